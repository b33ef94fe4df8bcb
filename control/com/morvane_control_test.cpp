// The control as a late-binding host drives it: created by ProgID from a
// registered libmorvane.so, every member reached through GetIDsOfNames and
// Invoke.
#include <gtest/gtest.h>

#include <string>

#include "control/com/errors.h"
#include "control/com/interface_description.h"
#include "control/com/morvane_test_support.h"

namespace morvane::testing {
namespace {

constexpr HRESULT outOfRange = hr32(0x800A017C);
constexpr HRESULT runtimeOnly = hr32(0x800A018A);
constexpr HRESULT invalidIndex = hr32(0x800A017D);
constexpr HRESULT readOnly = hr32(0x800A017F);
constexpr HRESULT writeOnly = hr32(0x800A018A);

std::u16string wide(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// A failed member as the host sees it: the exception's code, text and help.
void expectError(const Outcome& outcome, HRESULT error, std::u16string_view description, DWORD helpContext) {
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(outcome.error, error) << com::hresultHex(outcome.error);
    EXPECT_EQ(outcome.description, description);
    EXPECT_EQ(outcome.helpContext, helpContext);
    EXPECT_EQ(outcome.helpFile, helpContext != 0 ? u"quillonws.chm" : u"");
    EXPECT_EQ(outcome.source, com::formatGuidWide(CLSID_Morvane));
}

com::Variant expectedDefault(const PropertyDescription& p) {
    switch (p.type.type) {
        case AutomationType::Boolean: return com::Variant::fromBool(p.defaultValue.number != 0);
        case AutomationType::Integer: return com::Variant(static_cast<SHORT>(p.defaultValue.number));
        case AutomationType::Long:
        case AutomationType::Enumeration: return com::Variant(static_cast<LONG>(p.defaultValue.number));
        default: return com::Variant(wide(p.defaultValue.text));
    }
}

using MorvaneControlTest = ControlTest;

TEST_F(MorvaneControlTest, EveryReadablePropertyStartsAtItsDefault) {
    Client control = create();
    int checked = 0;
    for (const PropertyDescription& p : properties()) {
        if (p.defaultValue.kind == PropertyDefault::Kind::None || p.access == PropertyAccess::WriteOnly) continue;
        const Outcome got = control.get(wide(p.name));
        ASSERT_EQ(got.hr, S_OK) << p.name;
        const com::Variant expected = expectedDefault(p);
        ASSERT_EQ(got.value.vt, expected.vt) << p.name;
        if (expected.vt == VT_BSTR) {
            EXPECT_EQ(text(got.value), text(expected)) << p.name;
        } else {
            EXPECT_EQ(got.value.lVal & (expected.vt == VT_I4 ? ~0 : 0xFFFF),
                      expected.lVal & (expected.vt == VT_I4 ? ~0 : 0xFFFF))
                << p.name;
        }
        ++checked;
    }
    EXPECT_EQ(checked, 37);
    // The ones hosts lean on, spelled out.
    EXPECT_EQ(control.get(u"Timeout").value.iVal, 60);
    EXPECT_EQ(control.get(u"ProxyPort").value.lVal, 80);
    EXPECT_EQ(text(control.get(u"SSLCertStore").value), u"MY");
    EXPECT_EQ(control.get(u"AcceptData").value.boolVal, VARIANT_TRUE);
    EXPECT_EQ(bytes(control.get(u"SSLCertStoreB").value), (std::vector<std::uint8_t>{'M', 'Y'}));
    EXPECT_TRUE(bytes(control.get(u"DataInTextB").value).empty());
}

TEST_F(MorvaneControlTest, RangesRefuseWithTheirHelpContextAndKeepTheValue) {
    struct Case {
        std::u16string_view name;
        LONG value;
        bool accepted;
        DWORD helpContext;
    };
    const Case cases[] = {
        {u"FollowRedirects", 3, false, 22021},
        {u"FollowRedirects", 2, true, 0},
        {u"AuthScheme", 200, true, 0},
        {u"AuthScheme", 256, false, 22003},
        {u"DataFormat", 255, true, 0},
        {u"DataFormat", 256, false, 22013},
        {u"DataFormat", -7, true, 0},
        {u"FirewallType", 4, false, 22016},
        {u"ProxyAuthScheme", 256, false, 22029},
        {u"ProxySSL", 4, false, 22034},
        {u"SSLCertStoreType", 17, true, 0},
        {u"SSLCertStoreType", 18, false, 22040},
        {u"FirewallPort", 99999, true, 0},
        {u"ProxyPort", -1, true, 0},
    };
    for (const Case& c : cases) {
        Client control = create();
        const LONG before = control.get(c.name).value.lVal;
        const Outcome put = control.put(c.name, com::Variant(c.value));
        if (c.accepted) {
            EXPECT_EQ(put.hr, S_OK) << std::string(c.name.begin(), c.name.end()) << " " << c.value;
            EXPECT_EQ(control.get(c.name).value.lVal, c.value);
        } else {
            expectError(put, outOfRange, u"Value is out of range.", c.helpContext);
            EXPECT_EQ(control.get(c.name).value.lVal, before);
        }
    }
}

TEST_F(MorvaneControlTest, AccessRulesRefuseWithFixedErrors) {
    Client control = create();
    expectError(control.put(u"BytesSent", com::Variant(LONG{5})), readOnly, u"Property is read-only.", 22004);
    expectError(control.put(u"ParsedHeaderCount", com::Variant(SHORT{1})), readOnly, u"Property is read-only.", 22025);
    expectError(control.put(u"SSLServerCertEncoded", com::Variant(std::u16string_view(u"x"))), readOnly,
                u"Property is read-only.", 22042);
    expectError(control.put(u"SSLServerCertEncodedB", byteArray({1})), readOnly, u"Property is read-only.", 22005);
    expectError(control.put(u"DataInTextB", byteArray({1})), readOnly, u"Property is read-only.", 32000);
    // Read-only comes before the index.
    expectError(control.put(u"CookieDomain", com::Variant(std::u16string_view(u"x")), {com::Variant(SHORT{9})}),
                readOnly, u"Property is read-only.", 22007);
    expectError(control.get(u"DataToSend"), writeOnly, u"Property is write-only.", 22014);
    expectError(control.get(u"DataToSendB"), writeOnly, u"Property is write-only.", 22001);
}

TEST_F(MorvaneControlTest, DesignModeRefusesRuntimeOnlyMembers) {
    Client control = create();
    Site site(false);
    auto ole = com::ComPtr<IDispatch>(control.get()).as<IOleObject>();
    ASSERT_TRUE(ole);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);

    for (const PropertyDescription& p : properties()) {
        if (p.access == PropertyAccess::WriteOnly && p.runtimeOnly == RuntimeOnly::No) continue;
        std::vector<com::Variant> index;
        if (!p.indexName.empty()) index.emplace_back(SHORT{0});
        const Outcome got = control.get(wide(p.name), std::move(index));
        if (p.runtimeOnly == RuntimeOnly::No) {
            EXPECT_EQ(got.hr, S_OK) << p.name;
        } else {
            expectError(got, runtimeOnly, u"Property is runtime only (no supported in design time).",
                        propertyHelpContext(p.dispid));
        }
    }
    // Puts of properties whose get is runtime-only go through.
    EXPECT_EQ(control.put(u"AcceptData", com::Variant::fromBool(false)).hr, S_OK);
    EXPECT_EQ(control.put(u"Origin", com::Variant(std::u16string_view(u"http://a"))).hr, S_OK);
    // The event-data slots refuse their put in design mode before anything else.
    expectError(control.put(u"SSLServerAuthenticationCertEncodedB", byteArray({1})), runtimeOnly,
                u"Property is runtime only (no supported in design time).", 32001);

    site.setUserMode(true);
    EXPECT_EQ(control.get(u"AcceptData").value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(text(control.get(u"Origin").value), u"http://a");
    EXPECT_EQ(control.get(u"Connected").value.boolVal, VARIANT_FALSE);
    ASSERT_EQ(ole->Close(0), S_OK);
    EXPECT_EQ(site.references, 0u);
}

TEST_F(MorvaneControlTest, IndexedPropertiesCheckTheirIndex) {
    Client control = create();
    for (const char16_t* name : {u"a", u"b", u"c"}) {
        ASSERT_EQ(control.call(u"AddCookie", {com::Variant(std::u16string_view(name)), com::Variant(u"v")}).hr, S_OK);
    }
    EXPECT_EQ(control.get(u"CookieCount").value.iVal, 3);
    EXPECT_EQ(text(control.get(u"CookieName", {com::Variant(SHORT{2})}).value), u"c");
    for (SHORT bad : {SHORT{5}, SHORT{3}, SHORT{-1}}) {
        expectError(control.get(u"CookieName", {com::Variant(bad)}), invalidIndex, u"Invalid array index.", 22009);
    }
    expectError(control.put(u"CookieValue", com::Variant(std::u16string_view(u"x")), {com::Variant(SHORT{3})}),
                invalidIndex, u"Invalid array index.", 22012);
    expectError(control.get(u"ParsedHeaderField", {com::Variant(SHORT{0})}), invalidIndex, u"Invalid array index.",
                22026);

    ASSERT_EQ(control.put(u"CookieValue", com::Variant(std::u16string_view(u"new")), {com::Variant(SHORT{1})}).hr,
              S_OK);
    EXPECT_EQ(text(control.get(u"CookieValue", {com::Variant(SHORT{1})}).value), u"new");
    EXPECT_EQ(control.get(u"CookieSecure", {com::Variant(SHORT{0})}).value.boolVal, VARIANT_FALSE);
    EXPECT_EQ(text(control.get(u"CookieDomain", {com::Variant(SHORT{0})}).value), u"");

    ASSERT_EQ(control.put(u"CookieCount", com::Variant(SHORT{5})).hr, S_OK);
    EXPECT_EQ(text(control.get(u"CookieName", {com::Variant(SHORT{4})}).value), u"");
    ASSERT_EQ(control.put(u"CookieCount", com::Variant(SHORT{1})).hr, S_OK);
    expectError(control.get(u"CookieName", {com::Variant(SHORT{1})}), invalidIndex, u"Invalid array index.", 22009);
    ASSERT_EQ(control.call(u"ResetHeaders").hr, S_OK);
    EXPECT_EQ(control.get(u"CookieCount").value.iVal, 0);
}

TEST_F(MorvaneControlTest, ByteArrayPropertiesTakeOneDimensionAndKeepTheBytes) {
    Client control = create();
    const SAFEARRAYBOUND square[] = {{2, 0}, {2, 0}};
    for (com::Variant bad : {com::Variant::fromArray(VT_UI1, SafeArrayCreate(VT_UI1, 2, square)),
                             com::Variant(std::u16string_view(u"text")), com::Variant()}) {
        expectError(control.put(u"DataToSendB", std::move(bad)), outOfRange,
                    u"Property accepts only one-dimensional byte arrays.", 22001);
    }
    // The bytes go through untouched; the string twin reads them in the code page.
    ASSERT_EQ(control.put(u"SSLCertStoreB", byteArray({'a', 0xE9, 0x00, 0xFF})).hr, S_OK);
    EXPECT_EQ(bytes(control.get(u"SSLCertStoreB").value), (std::vector<std::uint8_t>{'a', 0xE9, 0x00, 0xFF}));
    EXPECT_EQ(text(control.get(u"SSLCertStore").value), std::u16string(u"a\u00e9\0\u00ff", 4));

    SAFEARRAY* mixed = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    com::Variant first(LONG{300});
    com::Variant second(SHORT{65});
    LONG i = 0;
    SafeArrayPutElement(mixed, &i, static_cast<VARIANT*>(&first));
    i = 1;
    SafeArrayPutElement(mixed, &i, static_cast<VARIANT*>(&second));
    ASSERT_EQ(control.put(u"SSLCertStoreB", com::Variant::fromArray(VT_VARIANT, mixed)).hr, S_OK);
    EXPECT_EQ(bytes(control.get(u"SSLCertStoreB").value), (std::vector<std::uint8_t>{44, 65}));
    // The client certificate is decoded when it is put.
    expectError(control.put(u"SSLCertEncodedB", byteArray({44, 65})), hr32(0x800A4F30),  // 271
                u"The certificate could not be decoded", 22003);

    // A string put ends at its first zero; the byte form keeps everything.
    ASSERT_EQ(control.put(u"SSLAcceptServerCertEncoded", com::Variant(std::u16string_view(u"ab\0cd", 5))).hr, S_OK);
    EXPECT_EQ(bytes(control.get(u"SSLAcceptServerCertEncodedB").value), (std::vector<std::uint8_t>{'a', 'b'}));

    // DataToSendB is sent: without a connection that fails like Send.
    expectError(control.put(u"DataToSendB", byteArray({1, 2, 3})), hr32(0x800A5DC2), u"[10057] Socket is not connected",
                22001);
}

TEST_F(MorvaneControlTest, ConfigCrossesTheBoundaryInTheCodePage) {
    Client control = create();
    EXPECT_EQ(text(control.config(u"maxframesize=4096").value), u"");
    EXPECT_EQ(text(control.config(u"MaxFrameSize").value), u"4096");
    ASSERT_EQ(control.config(u"MaxFrameSize=0x1000").hr, S_OK);
    EXPECT_EQ(text(control.config(u"MAXFRAMESIZE").value), u"4096");

    expectError(control.config(u"NoSuchSetting"), hr32(0x800A4E20), u"Unknown config setting.", 42002);
    expectError(control.config(u"URL=ws://elsewhere/"), hr32(0x800A4E20), u"Unknown config setting.", 42002);

    // Windows-1252 by default: what it holds round-trips, the rest becomes "?".
    ASSERT_EQ(control.put(u"OtherHeaders", com::Variant(std::u16string_view(u"X-Gr\u00fc\u00df: \u20ac"))).hr, S_OK);
    EXPECT_EQ(text(control.config(u"OtherHeaders").value), u"X-Gr\u00fc\u00df: \u20ac");
    ASSERT_EQ(control.config(u"UserAgent=\u03a9 client").hr, S_OK);
    EXPECT_EQ(text(control.config(u"UserAgent").value), u"? client");

    ASSERT_EQ(control.config(u"CodePage=65001").hr, S_OK);
    ASSERT_EQ(control.config(u"UserAgent=\u03a9 client").hr, S_OK);
    EXPECT_EQ(text(control.config(u"UserAgent").value), u"\u03a9 client");
    // The header text was stored as 1252 bytes; read as UTF-8 they are not text.
    EXPECT_EQ(text(control.config(u"OtherHeaders").value), u"X-Gr\ufffd\ufffd: \ufffd");

    // The vtable caller gets an empty string from a failed Config, not null.
    auto early = com::ComPtr<IDispatch>(control.get()).as<IMorvane>();
    ASSERT_TRUE(early);
    com::BStr request(u"Unknown");
    com::BStr result;
    EXPECT_EQ(early->Config(request.get(), result.put()), hr32(0x800A4E20));
    ASSERT_NE(result.get(), nullptr);
    EXPECT_TRUE(result.empty());
}

TEST_F(MorvaneControlTest, MethodsWithoutAConnectionRaiseTheEnginesErrors) {
    Client control = create();
    expectError(control.call(u"Connect", {com::Variant(std::u16string_view(u"ws:///chat"))}), hr32(0x800A4EB9),
                u"No server specified in URL", 42003);
    EXPECT_EQ(text(control.config(u"URL").value), u"ws:///chat");
    EXPECT_EQ(control.get(u"FollowRedirects").value.lVal, frAlways);

    const Outcome unreachable = control.call(u"Connect", {com::Variant(std::u16string_view(u"ws://127.0.0.1:1/"))});
    EXPECT_EQ(unreachable.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(HRESULT_FACILITY(unreachable.error), FACILITY_CONTROL);
    EXPECT_FALSE(unreachable.description.empty());
    EXPECT_EQ(unreachable.helpContext, 42003u);
    EXPECT_EQ(control.get(u"Connected").value.boolVal, VARIANT_FALSE);

    for (const char16_t* name : {u"Disconnect", u"DoEvents", u"Interrupt", u"ResetHeaders", u"OnEndPage"}) {
        EXPECT_EQ(control.call(name).hr, S_OK) << std::u16string_view(name).size();
    }
    EXPECT_EQ(control.call(u"OnStartPage", {com::Variant::fromUnknown(nullptr)}).hr, S_OK);
    EXPECT_EQ(control.put(u"Connected", com::Variant::fromBool(false)).hr, S_OK);

    EXPECT_EQ(control.call(u"Send", {com::Variant(std::u16string_view(u""))}).hr, S_OK);
    expectError(control.call(u"Send", {com::Variant(std::u16string_view(u"hi"))}), hr32(0x800A5DC2),
                u"[10057] Socket is not connected", 42008);
    expectError(control.call(u"SendText", {com::Variant(std::u16string_view(u"\u20ac"))}), hr32(0x800A5DC2),
                u"[10057] Socket is not connected", 42010);
    expectError(control.call(u"SendFile", {com::Variant(std::u16string_view(u""))}), hr32(0x800A4E24),
                u"You must provide the name of a file to send.", 42009);
    expectError(control.put(u"DataToSend", com::Variant(std::u16string_view(u"x"))), hr32(0x800A5DC2),
                u"[10057] Socket is not connected", 22014);

    // Non-blocking: codes above 10000 take the other offset (10057 -> 25058).
    ASSERT_EQ(control.put(u"Timeout", com::Variant(SHORT{0})).hr, S_OK);
    expectError(control.call(u"Send", {com::Variant(std::u16string_view(u"hello"))}), hr32(0x800A61E2),
                u"[10057] Socket is not connected", 42008);
    EXPECT_EQ(control.get(u"BytesSent").value.lVal, 5);
    expectError(control.call(u"SendFile", {com::Variant(std::u16string_view(u"/etc/hostname"))}), hr32(0x800A5E28),
                u"This operation cannot be performed in a non-blocking manner.", 42009);
}

TEST_F(MorvaneControlTest, FailuresLeaveErrorInformationForVtableCallers) {
    Client control = create();
    auto early = com::ComPtr<IDispatch>(control.get()).as<IMorvane>();
    auto support = early.as<ISupportErrorInfo>();
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IMorvane), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    EXPECT_EQ(early->put_FollowRedirects(static_cast<TFollowRedirects>(3)), outOfRange);
    auto record = com::takeErrorInfo();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->iid, IID_IMorvane);
    EXPECT_EQ(record->description, u"Value is out of range.");
    EXPECT_EQ(record->helpFile, u"quillonws.chm");
    EXPECT_EQ(record->helpContext, 22021u);

    // A get with a null out pointer does nothing and succeeds.
    EXPECT_EQ(early->get_Timeout(nullptr), S_OK);
    SHORT timeout = 0;
    EXPECT_EQ(early->put_Timeout(30), S_OK);
    EXPECT_EQ(early->get_Timeout(&timeout), S_OK);
    EXPECT_EQ(timeout, 30);
    BSTR store = nullptr;
    EXPECT_EQ(early->get_SSLCertStore(&store), S_OK);
    EXPECT_EQ(com::bstrView(store), u"MY");
    SysFreeString(store);
}

std::string aboutSeen;
void recordAbout(const char* caption, const char* body) { aboutSeen = std::string(caption) + " | " + body; }

TEST_F(MorvaneControlTest, AboutBoxGoesToTheHostsHook) {
    Client control = create();
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    auto setHook =
        reinterpret_cast<void (*)(void (*)(const char*, const char*))>(::dlsym(library, kSetAboutBoxHookExport));
    ASSERT_NE(setHook, nullptr);
    setHook(&recordAbout);
    EXPECT_EQ(control.dispid(u"AboutBox"), DISPID_ABOUTBOX);
    EXPECT_EQ(control.call(u"AboutBox").hr, S_OK);
    setHook(nullptr);
    ::dlclose(library);
    EXPECT_EQ(aboutSeen.rfind("QuillonWS Morvane WebSocket Control | Version 1.0", 0), 0u) << aboutSeen;
}

}  // namespace
}  // namespace morvane::testing
