// Events from the engine reach the host's sink as _IMorvaneEvents calls:
// arguments by reference in reverse order, Accept read back, the event-data
// slots readable only while their event runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "control/com/morvane_engine_hook.h"
#include "control/com/morvane_test_support.h"
#include "platform/text/code_page.h"

namespace morvane::testing {
namespace {

std::span<const std::uint8_t> span(std::string_view bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
}

class MorvaneEventsTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        control_.emplace(create());
        hook_ = com::ComPtr<IDispatch>(control_->get()).as<IMorvaneEngineHook>();
        ASSERT_TRUE(hook_);
        advised_.emplace(control_->get(), &sink_);
    }
    void TearDown() override {
        advised_.reset();
        hook_.reset();
        control_.reset();
        EXPECT_EQ(sink_.references, 0u);
    }
    EngineEvents& engine() { return hook_->engineEvents(); }

    EventSink sink_;
    std::optional<Client> control_;
    com::ComPtr<IMorvaneEngineHook> hook_;
    std::optional<Advised> advised_;
};

// One event per row: how the engine raises it, and what the sink must see.
struct EventCase {
    const char* name;
    std::function<void(EngineEvents&)> raise;
    DISPID id;
    std::vector<VARTYPE> types;
    std::vector<std::u16string> values;  // strings as text, numbers and Booleans in decimal
};

std::u16string shown(const com::Variant& v) {
    if (v.vt == VT_BSTR) return std::u16string(com::bstrView(v.bstrVal));
    const long number = v.vt == VT_BOOL ? v.boolVal : v.iVal;
    const std::string digits = std::to_string(number);
    return {digits.begin(), digits.end()};
}

constexpr VARTYPE byRefI2 = VT_BYREF | VT_I2;
constexpr VARTYPE byRefText = VT_BYREF | VT_BSTR;
constexpr VARTYPE byRefBool = VT_BYREF | VT_BOOL;

TEST_F(MorvaneEventsTest, EveryEventArrivesWithItsArgumentsByReference) {
    const EventCase cases[] = {
        {"Connected", [](EngineEvents& e) { e.connected(0, "OK"); }, 1, {byRefI2, byRefText}, {u"0", u"OK"}},
        {"ConnectionStatus",
         [](EngineEvents& e) { e.connectionStatus("Websocket connection complete.", 0, "OK"); },
         2,
         {byRefText, byRefI2, byRefText},
         {u"Websocket connection complete.", u"0", u"OK"}},
        {"DataIn",
         [](EngineEvents& e) { e.dataIn(1, span("hi"), true); },
         3,
         {byRefI2, byRefText, byRefBool},
         {u"1", u"hi", u"-1"}},
        {"Disconnected",
         [](EngineEvents& e) { e.disconnected(1001, "Going Away"); },
         4,
         {byRefI2, byRefText},
         {u"1001", u"Going Away"}},
        {"Error",
         [](EngineEvents& e) { e.error(4003, "Invalid handshake packet."); },
         5,
         {byRefI2, byRefText},
         {u"4003", u"Invalid handshake packet."}},
        {"Header",
         [](EngineEvents& e) { e.header("Upgrade", "websocket"); },
         6,
         {byRefText, byRefText},
         {u"Upgrade", u"websocket"}},
        {"ReadyToSend", [](EngineEvents& e) { e.readyToSend(); }, 7, {}, {}},
        {"Redirect",
         [](EngineEvents& e) {
             bool accept = true;
             e.redirect("ws://b/", accept);
         },
         8,
         {byRefText, byRefBool},
         {u"ws://b/", u"-1"}},
        {"SetCookie",
         [](EngineEvents& e) { e.setCookie("n", "v", "Wed", "d.example", "/", true); },
         9,
         {byRefText, byRefText, byRefText, byRefText, byRefText, byRefBool},
         {u"n", u"v", u"Wed", u"d.example", u"/", u"-1"}},
        {"SSLServerAuthentication",
         [](EngineEvents& e) {
             bool accept = false;
             e.sslServerAuthentication(span("CERT"), "CN=s", "CN=i", "ok", accept);
         },
         10,
         {byRefText, byRefText, byRefText, byRefText, byRefBool},
         {u"CERT", u"CN=s", u"CN=i", u"ok", u"0"}},
        {"SSLStatus", [](EngineEvents& e) { e.sslStatus("handshake"); }, 11, {byRefText}, {u"handshake"}},
    };
    for (const EventCase& c : cases) {
        sink_.seen.clear();
        c.raise(engine());
        ASSERT_EQ(sink_.seen.size(), 1u) << c.name;
        const SeenEvent& event = sink_.seen[0];
        EXPECT_EQ(event.id, c.id) << c.name;
        EXPECT_EQ(event.types, c.types) << c.name;
        ASSERT_EQ(event.args.size(), c.values.size()) << c.name;
        for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(shown(event.args[i]), c.values[i]) << c.name << i;
    }
}

TEST_F(MorvaneEventsTest, AcceptIsReadBackFromTheHandler) {
    struct Case {
        bool verdict;
        std::optional<bool> handlerSets;
        bool expected;
    };
    const Case cases[] = {
        {true, false, false}, {false, true, true}, {true, std::nullopt, true}, {false, std::nullopt, false}};
    for (const Case& c : cases) {
        sink_.handler = [&](DISPID, std::vector<VARIANT*>& args) {
            if (c.handlerSets) *args.back()->pboolVal = *c.handlerSets ? VARIANT_TRUE : VARIANT_FALSE;
        };
        bool redirect = c.verdict;
        engine().redirect("ws://elsewhere/", redirect);
        EXPECT_EQ(redirect, c.expected);
        bool certificate = c.verdict;
        engine().sslServerAuthentication(span("c"), "s", "i", "st", certificate);
        EXPECT_EQ(certificate, c.expected);
    }
    // Without any sink the engine's verdict stands and nothing is called.
    advised_.reset();
    sink_.seen.clear();
    bool accept = true;
    engine().redirect("ws://x/", accept);
    EXPECT_TRUE(accept);
    EXPECT_TRUE(sink_.seen.empty());
}

TEST_F(MorvaneEventsTest, EventDataSlotsHoldTheBytesOnlyDuringTheirEvent) {
    const std::string payload("a\0b\xFF", 4);
    std::vector<std::uint8_t> inside;
    std::u16string text;
    sink_.handler = [&](DISPID id, std::vector<VARIANT*>& args) {
        const char16_t* slot = id == 3 ? u"DataInTextB" : u"SSLServerAuthenticationCertEncodedB";
        inside = bytes(control_->get(slot).value);
        text = com::bstrView(*args[id == 3 ? 1 : 0]->pbstrVal);
    };
    engine().dataIn(2, span(payload), false);
    EXPECT_EQ(inside, std::vector<std::uint8_t>(payload.begin(), payload.end()));
    EXPECT_EQ(text, std::u16string(u"a\0b\u00ff", 4));  // counted, in the code page
    EXPECT_TRUE(bytes(control_->get(u"DataInTextB").value).empty());

    bool accept = false;
    engine().sslServerAuthentication(span(payload), "s", "i", "st", accept);
    EXPECT_EQ(inside, std::vector<std::uint8_t>(payload.begin(), payload.end()));
    EXPECT_TRUE(bytes(control_->get(u"SSLServerAuthenticationCertEncodedB").value).empty());
}

TEST_F(MorvaneEventsTest, TextFollowsTheCodePageSetting) {
    engine().dataIn(1, span("caf\xE9"), true);
    ASSERT_EQ(control_->config(u"CodePage=65001").hr, S_OK);
    engine().dataIn(1, span("caf\xC3\xA9"), true);
    engine().header("X", "\xE2\x82\xAC");
    ASSERT_EQ(sink_.seen.size(), 3u);
    EXPECT_EQ(shown(sink_.seen[0].args[1]), u"caf\u00e9");
    EXPECT_EQ(shown(sink_.seen[1].args[1]), u"caf\u00e9");
    EXPECT_EQ(shown(sink_.seen[2].args[1]), u"\u20ac");
}

// A long payload's Text is made as its bytes arrive where each byte is one
// character. Whatever the code page, the pieces and what happens between
// them, the sink must see the Text of the payload DataIn carries, converted
// whole in the code page in use then.
TEST_F(MorvaneEventsTest, TextMadeAsAPayloadArrivesIsTheTextOfTheWholePayload) {
    std::string plain(300000, 'a');
    for (std::size_t k = 0; k < plain.size(); k += 997) plain[k] = static_cast<char>(0x20 + k % 0x5F);
    std::string accented = plain;
    accented[5000] = accented[150001] = '\xE9';  // Latin in 1252, Greek in 1253
    accented[299999] = '\xD2';                    // no character in 1253
    const std::string zeds(plain.size(), 'z');
    // Each piece writes a payload's bytes up to `end` into the engine's buffer
    // (from 0 when it is the first of its payload) and announces them.
    struct Piece {
        const std::string* payload;
        std::size_t end;
        bool first = false;
        const char16_t* codePageBefore = nullptr;
    };
    struct ArrivalCase {
        const char* name;
        const char16_t* codePage;
        std::vector<Piece> pieces;
        bool lastAnnounced = true;  // the whole payload told once more before DataIn
        bool other = false;         // DataIn carries another payload as long, from elsewhere
        const char16_t* codePageBeforeDataIn = nullptr;
    };
    const ArrivalCase cases[] = {
        {"1252 in quarters", u"1252", {{&accented, 75000, true}, {&accented, 150000}, {&accented, 225000}}},
        {"1253 with a byte it has no character for", u"1253", {{&accented, 80000, true}, {&accented, 290000}}},
        {"UTF-8, all ASCII", u"65001", {{&plain, 100000, true}, {&plain, 200000}}},
        {"UTF-8 with a two-byte sequence split between pieces",
         u"65001",
         {{&accented, 150001, true}, {&accented, 150002}}},
        {"begun late: less than a quarter came first", u"1252", {{&accented, 1000, true}, {&accented, 2000}}},
        {"the code page changed between pieces",
         u"1252",
         {{&accented, 100000, true}, {&accented, 200000, false, u"1253"}}},
        {"the code page changed after the last piece",
         u"1253",
         {{&accented, 100000, true}, {&accented, 300000}},
         true,
         false,
         u"1252"},
        {"a payload cut off, then another as long in the same place",
         u"1252",
         {{&zeds, 100000, true}, {&plain, 200000, true}, {&plain, 250000}}},
        {"not told whole before DataIn", u"1252", {{&accented, 100000, true}, {&accented, 250000}}, false},
        {"DataIn carries another payload", u"1252", {{&accented, 100000, true}}, true, true},
    };
    const auto useCodePage = [&](const char16_t* codePage) {
        EXPECT_EQ(control_->config(std::u16string(u"CodePage=") + codePage).hr, S_OK);
        const std::u16string digits(codePage);
        return static_cast<unsigned>(std::stoul(std::string(digits.begin(), digits.end())));
    };
    for (const ArrivalCase& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned codePage = useCodePage(c.codePage);
        std::string buffer(plain.size(), '\0');
        std::size_t written = 0;
        const std::string* payload = nullptr;
        for (const Piece& piece : c.pieces) {
            if (piece.codePageBefore) codePage = useCodePage(piece.codePageBefore);
            if (piece.first) written = 0;
            payload = piece.payload;
            std::copy(payload->begin() + static_cast<std::ptrdiff_t>(written),
                      payload->begin() + static_cast<std::ptrdiff_t>(piece.end), buffer.begin() + written);
            written = piece.end;
            engine().dataArriving(span(std::string_view(buffer).substr(0, written)), buffer.size(), piece.first);
        }
        std::copy(payload->begin() + static_cast<std::ptrdiff_t>(written), payload->end(), buffer.begin() + written);
        if (c.lastAnnounced) engine().dataArriving(span(buffer), buffer.size(), false);
        if (c.codePageBeforeDataIn) codePage = useCodePage(c.codePageBeforeDataIn);
        const std::string& carried = c.other ? plain : buffer;
        sink_.seen.clear();
        engine().dataIn(2, span(carried), true);
        ASSERT_EQ(sink_.seen.size(), 1u);
        const std::u16string seen = shown(sink_.seen[0].args[1]);
        const std::u16string expected = codepage::multiByteToWide(codePage, carried).text;
        // Where they part, rather than three hundred thousand characters each.
        const auto [at, _] = std::mismatch(seen.begin(), seen.end(), expected.begin(), expected.end());
        EXPECT_TRUE(seen == expected) << "lengths " << seen.size() << " and " << expected.size() << ", apart from "
                                      << at - seen.begin();
    }
}

TEST_F(MorvaneEventsTest, AHandlerMayCallTheControlAndDropItsLastReference) {
    sink_.handler = [&](DISPID, std::vector<VARIANT*>&) {
        // Re-entry: members work from inside an event.
        EXPECT_EQ(control_->get(u"Timeout").value.iVal, 60);
        EXPECT_EQ(control_->put(u"Timeout", com::Variant(SHORT{5})).hr, S_OK);
        // Then the host lets go of the control while the event still runs.
        advised_.reset();
        control_.reset();
    };
    EngineEvents& events = engine();
    hook_.reset();
    events.dataIn(1, span("bye"), true);
    EXPECT_EQ(sink_.seen.size(), 1u);
    EXPECT_FALSE(control_);
}

}  // namespace
}  // namespace morvane::testing
