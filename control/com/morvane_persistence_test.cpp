// The saved form of the control and its three persistence interfaces, as a
// container drives them through the registered library.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "control/com/errors.h"
#include "control/com/interface_description.h"
#include "control/com/morvane_persistence_format.h"
#include "control/com/morvane_test_support.h"
#include "platform/com/persist.h"

namespace morvane::testing {
namespace {

// A value for every persisted property, as a host would set it: all but the
// two auto-detection switches differ from the defaults (turning either on
// replaces the firewall settings with the system's; see AutoDetectionSwitchesSurviveAStream).
struct Setting {
    std::u16string_view name;
    com::Variant value;
};

std::vector<Setting> changedSettings() {
    return {
        {u"Authorization", com::Variant(u"Bearer abc")},
        {u"AuthScheme", com::Variant(LONG{2})},
        {u"DataFormat", com::Variant(LONG{1})},
        {u"FirewallAutoDetect", com::Variant::fromBool(false)},
        {u"FirewallType", com::Variant(LONG{2})},
        {u"FirewallHost", com::Variant(u"fw.example")},
        {u"FirewallPassword", com::Variant(u"fw-secret")},
        {u"FirewallPort", com::Variant(LONG{1080})},
        {u"FirewallUser", com::Variant(u"fwuser")},
        {u"FollowRedirects", com::Variant(LONG{2})},
        {u"Password", com::Variant(u"p\u00e4ss")},
        {u"ProxyAuthScheme", com::Variant(LONG{1})},
        {u"ProxyAutoDetect", com::Variant::fromBool(false)},
        {u"ProxyPassword", com::Variant(u"proxy-secret")},
        {u"ProxyPort", com::Variant(LONG{3128})},
        {u"ProxyServer", com::Variant(u"proxy.example")},
        {u"ProxySSL", com::Variant(LONG{2})},
        {u"ProxyUser", com::Variant(u"puser")},
        {u"SSLCertStore", com::Variant(u"Root")},
        {u"SSLCertStorePassword", com::Variant(u"store-secret")},
        {u"SSLCertStoreType", com::Variant(LONG{2})},
        {u"SSLCertSubject", com::Variant(u"CN=client")},
        {u"Timeout", com::Variant(SHORT{30})},
        {u"User", com::Variant(u"user")},
    };
}

std::u16string shown(const com::Variant& value) {
    com::Variant copy(value);
    if (FAILED(copy.changeType(VT_BSTR))) return u"<no text>";
    return std::u16string(com::bstrView(copy.bstrVal));
}

// Every persisted property's value, as text, in the list's order.
std::vector<std::u16string> persistedState(Client& client) {
    std::vector<std::u16string> state;
    for (const PersistedProperty& property : persistedProperties()) {
        state.push_back(shown(client.get(property.wideName).value));
    }
    return state;
}

template <class T>
com::ComPtr<T> as(Client& client) {
    com::ComPtr<T> result;
    EXPECT_EQ(client.get()->QueryInterface(T::uuid, result.putVoid()), S_OK);
    return result;
}

// SSLCertSubject reports that no certificate in the store has the subject,
// but keeps it: what matters here is that every value is in place.
void changeAll(Client& client) {
    for (const Setting& setting : changedSettings()) {
        client.put(setting.name, setting.value);
        EXPECT_EQ(shown(client.get(setting.name).value), shown(setting.value))
            << std::string(setting.name.begin(), setting.name.end());
    }
}

std::vector<std::uint8_t> savedStream(Client& client) {
    com::ComPtr<IStream> stream;
    EXPECT_EQ(com::createMemoryStream(stream.put()), S_OK);
    EXPECT_EQ(as<IPersistStreamInit>(client)->Save(stream.get(), TRUE), S_OK);
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(com::streamContents(stream.get(), bytes), S_OK);
    return bytes;
}

HRESULT loadStream(Client& client, std::vector<std::uint8_t> bytes) {
    com::ComPtr<IStream> stream;
    EXPECT_EQ(com::createMemoryStream(std::move(bytes), stream.put()), S_OK);
    return as<IPersistStreamInit>(client)->Load(stream.get());
}

bool contains(const std::vector<std::uint8_t>& bytes, std::u16string_view text) {
    std::vector<std::uint8_t> needle;
    for (const char16_t unit : text) {
        needle.push_back(static_cast<std::uint8_t>(unit));
        needle.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

TEST(PersistedProperties, AreTheTwentyFourDesignTimeSettingsTiedToTheirDispids) {
    const auto list = persistedProperties();
    ASSERT_EQ(list.size(), 24u);
    const auto settings = changedSettings();
    for (std::size_t i = 0; i < list.size(); ++i) {
        const PropertyDescription* description = findProperty(list[i].dispid);
        ASSERT_NE(description, nullptr) << list[i].name;
        EXPECT_EQ(description->name, list[i].name);
        EXPECT_EQ(std::u16string(settings[i].name), std::u16string(list[i].wideName));
        EXPECT_EQ(variantTypeOf(list[i].kind), settings[i].value.vt) << list[i].name;
        EXPECT_EQ(description->access, PropertyAccess::ReadWrite) << list[i].name;
    }
    EXPECT_TRUE(std::none_of(list.begin(), list.end(), [](auto& p) { return p.name == "OtherHeaders"; }));
}

TEST(PersistenceFormat, DefaultsRoundTripAndTheReaderTakesOnlyItsOwnBytes) {
    const PersistedValues defaults = defaultPersistedValues();
    EXPECT_EQ(defaults[22].iVal, 60);                       // Timeout
    EXPECT_EQ(com::bstrView(defaults[18].bstrVal), u"MY");  // SSLCertStore
    EXPECT_EQ(defaults[14].lVal, 80);                       // ProxyPort
    std::vector<std::uint8_t> bytes = encodePersistedValues(defaults);
    const std::size_t size = bytes.size();
    bytes.push_back(0xAB);  // a container's own data after ours
    PersistedValues read;
    std::size_t used = 0;
    ASSERT_EQ(decodePersistedValues(bytes, read, &used), S_OK);
    EXPECT_EQ(used, size);
    EXPECT_TRUE(samePersistedValues(read, defaults));
}

// Writes a little-endian 16-bit field of the header.
void set16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

TEST(PersistenceFormat, RefusesForeignNewerAndDamagedForms) {
    const std::vector<std::uint8_t> good = encodePersistedValues(defaultPersistedValues());
    PersistedValues outOfRange = defaultPersistedValues();
    outOfRange[9] = com::Variant(LONG{3});  // FollowRedirects goes to 2

    struct Case {
        const char* what;
        std::function<void(std::vector<std::uint8_t>&)> damage;
        HRESULT expected;
    };
    const Case cases[] = {
        {"empty", [](auto& b) { b.clear(); }, STG_E_INVALIDHEADER},
        {"other magic", [](auto& b) { b[0] = 'X'; }, STG_E_INVALIDHEADER},
        {"version 0", [](auto& b) { set16(b, 4, 0); }, STG_E_INVALIDHEADER},
        {"newer version", [](auto& b) { set16(b, 4, 2); }, STG_E_OLDDLL},
        {"property count", [](auto& b) { set16(b, 6, 25); }, STG_E_DOCFILECORRUPT},
        {"cut in the header", [](auto& b) { b.resize(10); }, STG_E_DOCFILECORRUPT},
        {"cut in the body", [](auto& b) { b.pop_back(); }, STG_E_DOCFILECORRUPT},
        {"body byte changed", [](auto& b) { b[40] ^= 0x01; }, STG_E_DOCFILECORRUPT},
        {"checksum changed", [](auto& b) { b[12] ^= 0x80; }, STG_E_DOCFILECORRUPT},
        {"huge body length", [](auto& b) { b[11] = 0x7F; }, STG_E_DOCFILECORRUPT},
        {"value out of range", [&](auto& b) { b = encodePersistedValues(outOfRange); }, STG_E_DOCFILECORRUPT},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> bytes = good;
        c.damage(bytes);
        PersistedValues values = defaultPersistedValues();
        values[22] = com::Variant(SHORT{7});
        EXPECT_EQ(decodePersistedValues(bytes, values, nullptr), c.expected) << c.what;
        EXPECT_EQ(values[22].iVal, 7) << c.what << ": values written on failure";
    }
    // Every shorter prefix of a good form is refused.
    for (std::size_t length = 0; length < good.size(); ++length) {
        PersistedValues values;
        const HRESULT hr = decodePersistedValues(std::span(good).first(length), values, nullptr);
        EXPECT_TRUE(hr == STG_E_INVALIDHEADER || hr == STG_E_DOCFILECORRUPT) << length;
    }
}

using PersistenceTest = ControlTest;

TEST_F(PersistenceTest, TimeoutSurvivesAStreamAndOtherHeadersIsNeverSaved) {
    Client first = create();
    ASSERT_EQ(first.put(u"Timeout", com::Variant(SHORT{30})).hr, S_OK);
    ASSERT_EQ(first.put(u"OtherHeaders", com::Variant(u"X-Marker: only-here\r\n")).hr, S_OK);
    const std::vector<std::uint8_t> bytes = savedStream(first);
    EXPECT_FALSE(contains(bytes, u"only-here"));

    ULARGE_INTEGER size{};
    ASSERT_EQ(as<IPersistStreamInit>(first)->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, bytes.size());

    Client second = create();
    ASSERT_EQ(loadStream(second, bytes), S_OK);
    EXPECT_EQ(second.get(u"Timeout").value.iVal, 30);
    EXPECT_EQ(text(second.get(u"OtherHeaders").value), u"");
}

// The three ways a container saves a control, each to be loaded back by the
// same interface into a fresh control.
struct Medium {
    const char* name;
    std::function<HRESULT(Client&, com::ComPtr<IUnknown>&)> save;
    std::function<HRESULT(Client&, IUnknown*)> load;
};

std::vector<Medium> media() {
    return {
        {"stream",
         [](Client& c, com::ComPtr<IUnknown>& saved) {
             com::ComPtr<IStream> stream;
             com::createMemoryStream(stream.put());
             saved = stream.as<IUnknown>();
             return as<IPersistStreamInit>(c)->Save(stream.get(), TRUE);
         },
         [](Client& c, IUnknown* saved) {
             com::ComPtr<IStream> stream = com::ComPtr<IUnknown>(saved).as<IStream>();
             LARGE_INTEGER start{};
             stream->Seek(start, STREAM_SEEK_SET, nullptr);
             return as<IPersistStreamInit>(c)->Load(stream.get());
         }},
        {"storage",
         [](Client& c, com::ComPtr<IUnknown>& saved) {
             com::ComPtr<IStorage> storage;
             com::createMemoryStorage(storage.put());
             saved = storage.as<IUnknown>();
             auto persist = as<IPersistStorage>(c);
             EXPECT_EQ(persist->InitNew(storage.get()), S_OK);
             changeAll(c);
             const HRESULT hr = persist->Save(storage.get(), TRUE);
             EXPECT_EQ(persist->SaveCompleted(nullptr), S_OK);
             return hr;
         },
         [](Client& c, IUnknown* saved) {
             return as<IPersistStorage>(c)->Load(com::ComPtr<IUnknown>(saved).as<IStorage>().get());
         }},
        {"property bag",
         [](Client& c, com::ComPtr<IUnknown>& saved) {
             auto bag = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
             saved = bag.as<IUnknown>();
             const HRESULT hr = as<IPersistPropertyBag>(c)->Save(bag.get(), TRUE, TRUE);
             EXPECT_EQ(bag->entries().size(), 24u);
             return hr;
         },
         [](Client& c, IUnknown* saved) {
             return as<IPersistPropertyBag>(c)->Load(com::ComPtr<IUnknown>(saved).as<IPropertyBag>().get(), nullptr);
         }},
    };
}

TEST_F(PersistenceTest, EveryPersistedPropertyRoundTripsThroughEachInterface) {
    for (const Medium& medium : media()) {
        SCOPED_TRACE(medium.name);
        Client source = create();
        changeAll(source);
        const std::vector<std::u16string> expected = persistedState(source);
        com::ComPtr<IUnknown> saved;
        ASSERT_EQ(medium.save(source, saved), S_OK);
        EXPECT_EQ(as<IPersistStreamInit>(source)->IsDirty(), S_FALSE);

        Client target = create();
        ASSERT_NE(persistedState(target), expected);
        ASSERT_EQ(medium.load(target, saved.get()), S_OK);
        EXPECT_EQ(persistedState(target), expected);
        EXPECT_EQ(as<IPersistStreamInit>(target)->IsDirty(), S_FALSE);
        // Loaded once; a second initialization is refused.
        EXPECT_NE(medium.load(target, saved.get()), S_OK);
    }
}

TEST_F(PersistenceTest, AutoDetectionSwitchesSurviveAStream) {
    Client source = create();
    ASSERT_EQ(source.put(u"FirewallAutoDetect", com::Variant::fromBool(true)).hr, S_OK);
    ASSERT_EQ(source.put(u"ProxyAutoDetect", com::Variant::fromBool(true)).hr, S_OK);
    const std::vector<std::u16string> expected = persistedState(source);
    Client target = create();
    ASSERT_EQ(loadStream(target, savedStream(source)), S_OK);
    EXPECT_EQ(target.get(u"FirewallAutoDetect").value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(target.get(u"ProxyAutoDetect").value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(persistedState(target), expected);
}

TEST_F(PersistenceTest, DamagedTruncatedAndNewerStreamsLeaveTheControlUnchanged) {
    Client source = create();
    changeAll(source);
    const std::vector<std::uint8_t> good = savedStream(source);

    std::vector<std::uint8_t> newer = good;
    set16(newer, 4, 9);
    std::vector<std::uint8_t> flipped = good;
    flipped[good.size() / 2] ^= 0x20;
    const struct {
        const char* what;
        std::vector<std::uint8_t> bytes;
        HRESULT expected;
    } cases[] = {
        {"newer", newer, STG_E_OLDDLL},
        {"truncated", std::vector<std::uint8_t>(good.begin(), good.end() - 3), STG_E_DOCFILECORRUPT},
        {"damaged", flipped, STG_E_DOCFILECORRUPT},
        {"not ours", std::vector<std::uint8_t>{'<', 'x', 'm', 'l', '>', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         STG_E_INVALIDHEADER},
    };
    Client target = create();
    ASSERT_EQ(target.put(u"Timeout", com::Variant(SHORT{45})).hr, S_OK);
    const std::vector<std::u16string> before = persistedState(target);
    for (const auto& c : cases) {
        EXPECT_EQ(loadStream(target, c.bytes), c.expected) << c.what;
        EXPECT_EQ(persistedState(target), before) << c.what;
    }
    // Still uninitialized, so a good stream loads afterwards.
    ASSERT_EQ(loadStream(target, good), S_OK);
    EXPECT_EQ(target.get(u"Timeout").value.iVal, 30);
}

TEST_F(PersistenceTest, InitNewGivesTheDefaultsAndIsDirtyFollowsTheLastSave) {
    Client fresh = create();
    const std::vector<std::u16string> defaults = persistedState(fresh);
    auto persist = as<IPersistStreamInit>(fresh);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    Client changed = create();
    changeAll(changed);
    auto changedPersist = as<IPersistStreamInit>(changed);
    EXPECT_EQ(changedPersist->IsDirty(), S_OK);
    ASSERT_EQ(changedPersist->InitNew(), S_OK);
    EXPECT_EQ(persistedState(changed), defaults);
    EXPECT_EQ(changedPersist->IsDirty(), S_FALSE);
    EXPECT_EQ(changedPersist->InitNew(), E_UNEXPECTED);

    ASSERT_EQ(changed.put(u"Timeout", com::Variant(SHORT{5})).hr, S_OK);
    EXPECT_EQ(changedPersist->IsDirty(), S_OK);
    com::ComPtr<IStream> stream;
    ASSERT_EQ(com::createMemoryStream(stream.put()), S_OK);
    ASSERT_EQ(changedPersist->Save(stream.get(), FALSE), S_OK);
    EXPECT_EQ(changedPersist->IsDirty(), S_OK);
    ASSERT_EQ(changedPersist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(changedPersist->IsDirty(), S_FALSE);
    // A setting that is not saved does not make the control dirty.
    ASSERT_EQ(changed.put(u"OtherHeaders", com::Variant(u"X-A: b\r\n")).hr, S_OK);
    EXPECT_EQ(changedPersist->IsDirty(), S_FALSE);

    CLSID clsid{};
    ASSERT_EQ(as<IPersist>(changed)->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Morvane);
    ASSERT_EQ(as<IPersistPropertyBag>(changed)->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Morvane);
}

TEST_F(PersistenceTest, StorageFollowsTheSaveAndHandsOffProtocol) {
    Client control = create();
    auto persist = as<IPersistStorage>(control);
    com::ComPtr<IStorage> first;
    com::ComPtr<IStorage> second;
    ASSERT_EQ(com::createMemoryStorage(first.put()), S_OK);
    ASSERT_EQ(com::createMemoryStorage(second.put()), S_OK);

    EXPECT_EQ(persist->Load(first.get()), STG_E_FILENOTFOUND);  // nothing saved in it yet
    EXPECT_EQ(persist->HandsOffStorage(), E_UNEXPECTED);
    ASSERT_EQ(persist->InitNew(first.get()), S_OK);
    EXPECT_EQ(persist->InitNew(first.get()), CO_E_ALREADYINITIALIZED);
    EXPECT_EQ(persist->Load(first.get()), CO_E_ALREADYINITIALIZED);
    EXPECT_EQ(persist->SaveCompleted(nullptr), E_UNEXPECTED);

    ASSERT_EQ(control.put(u"User", com::Variant(u"someone")).hr, S_OK);
    // A copy saved elsewhere does not clean the document.
    ASSERT_EQ(persist->Save(second.get(), FALSE), S_OK);
    ASSERT_EQ(persist->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);

    // Save as: hands off, then the new storage becomes the object's.
    ASSERT_EQ(persist->Save(second.get(), FALSE), S_OK);
    ASSERT_EQ(persist->HandsOffStorage(), S_OK);
    EXPECT_EQ(persist->Save(second.get(), TRUE), E_UNEXPECTED);
    EXPECT_EQ(persist->SaveCompleted(nullptr), E_INVALIDARG);
    ASSERT_EQ(persist->SaveCompleted(second.get()), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    Client reloaded = create();
    ASSERT_EQ(as<IPersistStorage>(reloaded)->Load(second.get()), S_OK);
    EXPECT_EQ(text(reloaded.get(u"User").value), u"someone");
}

TEST_F(PersistenceTest, PropertyBagTakesDefaultsForMissingNamesAndRefusesBadValues) {
    struct Log final : IErrorLog {
        std::vector<std::u16string> names;
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 2; }
        ULONG Release() override { return 1; }
        HRESULT AddError(LPCOLESTR name, EXCEPINFO*) override {
            names.emplace_back(name);
            return S_OK;
        }
    };
    const struct {
        const char* text;
        HRESULT expected;
        std::vector<std::u16string> logged;
    } cases[] = {
        {"Timeout=30\nUser=alice\n", S_OK, {}},
        {"Timeout=lots\nUser=alice\nProxyPort=x\n", E_FAIL, {u"ProxyPort", u"Timeout"}},
        {"FollowRedirects=3\n", accessor_error::outOfRange.hresult, {u"FollowRedirects"}},
        {"Timeout=70000\n", E_FAIL, {u"Timeout"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto bag = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
        ASSERT_EQ(bag->fromText(c.text), S_OK);
        Client control = create();
        ASSERT_EQ(control.put(u"ProxyPort", com::Variant(LONG{8080})).hr, S_OK);
        const std::vector<std::u16string> before = persistedState(control);
        Log log;
        EXPECT_EQ(as<IPersistPropertyBag>(control)->Load(bag.get(), &log), c.expected);
        std::sort(log.names.begin(), log.names.end());
        EXPECT_EQ(log.names, c.logged);
        if (c.expected == S_OK) {
            EXPECT_EQ(control.get(u"Timeout").value.iVal, 30);
            EXPECT_EQ(text(control.get(u"User").value), u"alice");
            EXPECT_EQ(control.get(u"ProxyPort").value.lVal, 80);  // missing: the default
        } else {
            EXPECT_EQ(persistedState(control), before);
        }
    }
}

TEST_F(PersistenceTest, EachPersistenceInterfaceDelegatesToTheOuterObject) {
    com::testing::AggregatingOuter outer;
    ASSERT_EQ(CoCreateInstance(CLSID_Morvane, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    for (const IID* iid : {&IID_IPersistStreamInit, &IID_IPersist, &IID_IPersistStorage, &IID_IPersistPropertyBag}) {
        com::ComPtr<IPersist> persist;
        ASSERT_EQ(outer.QueryInterface(*iid, persist.putVoid()), S_OK) << com::formatGuid(*iid);
        EXPECT_EQ(outer.references, 2u) << com::formatGuid(*iid);
        com::ComPtr<IUnknown> identity;
        ASSERT_EQ(persist->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer));
        identity.reset();
        com::ComPtr<IDispatch> dispatch;
        EXPECT_EQ(persist->QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK);
        dispatch.reset();
        CLSID clsid{};
        EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_Morvane);
    }
    EXPECT_EQ(outer.references, 1u);
    outer.inner->Release();
}

}  // namespace
}  // namespace morvane::testing
