// The engine seen from the top, as the control's Config method drives it.
#include "control/websocket/websocket_layer.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cctype>
#include <map>
#include <set>
#include <vector>

#include "control/com/engine_events.h"

namespace morvane {
namespace {

class EngineProbe : public WebSocketLayer {
public:
    void socket(bool open, bool connected) {
        socketHandle_ = open ? 5 : -1;
        connected_ = connected;
    }
    void moveTo(State state) { state_ = state; }
    void keep(std::string payload, bool eom) {
        keptPayload_ = std::move(payload);
        dataInEom_ = eom;
        acceptData_ = false;
    }
    void respond(std::string statusLine) { statusLine_ = std::move(statusLine); }
    // Open over a real (unconnected) socket, with frames already received
    // and waiting behind a kept payload.
    void openWithBufferedFrames(std::string frames) {
        socketHandle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        beginOpenConnection();
        frameBuffer_ = std::move(frames);
    }
};

class DataInLog : public IgnoringEvents {
public:
    std::vector<std::string> texts;
    void dataIn(std::int16_t, std::span<const std::uint8_t> bytes, bool) override {
        texts.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
};

std::string read(EngineCommon& engine, std::string_view name) {
    std::string value;
    EXPECT_EQ(engine.config(name, value), 0) << name;
    return value;
}

int write(EngineCommon& engine, std::string_view text) {
    std::string result = "stale";
    const int code = engine.config(text, result);
    EXPECT_EQ(result, "") << text;
    return code;
}

// Every setting a read answers, with its value on a new control (Windows-1252,
// a current system). Write-only settings are the ones missing here.
const std::map<std::string, std::string> defaults = {
    // WebSocket layer
    {"MaxFrameSize", "131072"}, {"MaxMessageSize", "67108864"}, {"DisconnectStatusCode", "-1"},
    {"DisconnectStatusDescription", ""},
    {"BufferMessage", "False"}, {"SinglePacketMode", "False"}, {"DataInText", ""}, {"DataInEOM", "False"},
    {"URL", ""}, {"StatusLine", ""}, {"TransferredData", ""},
    // HTTP layer
    {"UserAgent", "QuillonWS Morvane 1.0"}, {"HTTPVersion", "1.1"}, {"KeepAlive", "False"},
    {"FollowRedirects", "0"}, {"MaxRedirectAttempts", "20"}, {"AllowIdenticalRedirectURL", "False"},
    {"GetOn302Redirect", "False"}, {"AbsoluteURI", "False"}, {"EncodeURL", "False"},
    {"EncodeQueryString", "True"}, {"EncodeRedirectLocation", "False"}, {"OtherHeaders", ""},
    {"Authorization", ""}, {"HttpCookies", ""}, {"DontClearCookiesOnUrlChange", "False"},
    {"ProxyServer", ""}, {"ProxyPort", "80"}, {"ProxyUser", ""}, {"ProxyPassword", ""},
    {"ProxyAuthScheme", "0"}, {"ProxyAuthorization", ""}, {"IfModifiedSince", ""},
    {"AcceptEncoding", "gzip, deflate"}, {"AllowHTTPCompression", "False"}, {"Loglevel", "1"},
    {"TransferredHeaders", ""}, {"SentHeaders", ""}, {"TransferredRequest", ""},
    {"NegotiatedHTTPVersion", ""}, {"BytesTransferred", "0"},
    // Transport: socket engine, firewall, secure channel, authentication
    {"SelectWaitMillis", "20"}, {"AbsoluteTimeout", "False"}, {"TimeoutInMilliseconds", "False"},
    {"WinsockStatus", "0"}, {"IgnoreExternalEvents", "False"}, {"IgnoreOtherWindowEvents", "False"},
    {"WinsockVersion", "2.2"}, {"QOSTrafficType", "0"}, {"QOSDSCPValue", "0"}, {"UseWindowsMessages", "True"},
    {"UseIPv6", "False"}, {"UseGetAddrInfo", "True"}, {"ShareLocalPort", "False"}, {"MaxTransferRate", "0"},
    {"SplitCRLF", "False"}, {"MaxLineLength", "2048"}, {"SocketHandle", "-1"}, {"LocalHost", ""},
    {"LocalPort", "0"}, {"FirewallAutoDetect", "False"}, {"FirewallHost", ""}, {"FirewallPort", "0"},
    {"FirewallType", "0"}, {"FirewallUser", ""}, {"FirewallPassword", ""}, {"ProxyExceptionsList", ""},
    {"InBufferSize", "1048576"}, {"OutBufferSize", "262144"}, {"TcpNoDelay", "False"},
    {"TCPKeepAlive", "False"}, {"KeepAliveTime", "0"}, {"KeepAliveInterval", "0"},
    {"MaxReceiveDataTime", "0"}, {"Linger", "True"}, {"LingerTime", "0"}, {"GracefullyShutDownSSL", "False"},
    {"BindIPv6Address", "True"}, {"ConnectionTimeout", "0"},
    {"SSLProvider", "Microsoft Unified Security Protocol Provider"}, {"SSLCipherStrength", "40"},
    {"SSLEnabledCipherSuites", ""}, {"SSLAlgorithmList", ""}, {"SSLEnabledProtocols", "4032"},
    {"SSLEnableRenegotiation", "True"}, {"SSLSecurityFlags", "0"}, {"SSLIncludeCertChain", "False"},
    {"ReuseSSLSession", "False"}, {"ParseSSLServerCert", "False"}, {"ALPNExtension", ""},
    {"UseDefaultCredentials", "False"}, {"ExtendedProtection", "True"}, {"KerberosSPN", ""},
    {"UseSystemSSPI", "True"}, {"RecordToFile", ""}, {"RecordToString", ""}, {"RemoteHostName", ""},
    // Common
    {"CodePage", "0"}, {"CharsetMode", "0"}, {"LogDebugFile", ""}, {"LogDebugOption", "0"}, {"LastError", ""},
    {"ZeroMemory", "False"},
};

template <class Layer>
void collectNames(std::set<std::string>& readable, std::set<std::string>& all) {
    for (const auto& setting : Layer::settings()) {
        all.insert(std::string(setting.name));
        if (setting.answersReads()) readable.insert(std::string(setting.name));
    }
}

TEST(WebSocketLayerConfigTest, EverySettingReadsItsDefault) {
    std::set<std::string> readable;
    std::set<std::string> all;
    collectNames<WebSocketLayer>(readable, all);
    collectNames<HttpLayer>(readable, all);
    collectNames<SocketEngine>(readable, all);
    collectNames<EngineCommon>(readable, all);
    std::set<std::string> tested;
    for (const auto& [name, value] : defaults) tested.insert(name);
    EXPECT_EQ(readable, tested);
    EXPECT_EQ(all.size(), readable.size() + 2);  // KerberosToken and FirewallData are write-only

    WebSocketLayer engine;
    for (const auto& [name, value] : defaults) EXPECT_EQ(read(engine, name), value) << name;
}

TEST(WebSocketLayerConfigTest, NoNameBelongsToTwoLayers) {
    std::multiset<std::string> names;
    auto add = [&names](const auto& table) {
        for (const auto& setting : table) {
            std::string lower(setting.name);
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            names.insert(lower);
        }
    };
    add(WebSocketLayer::settings());
    add(HttpLayer::settings());
    add(SocketEngine::settings());
    add(EngineCommon::settings());
    for (const auto& name : names) EXPECT_EQ(names.count(name), 1u) << name;
}

// Plain stored settings take any value of their kind back unchanged.
template <class Layer>
void expectPlainRoundTrips() {
    for (const auto& s : Layer::settings()) {
        if (s.access != SettingAccess::ReadWrite || s.read || s.write) continue;
        const std::string name(s.name);
        std::vector<std::pair<std::string, std::string>> trips;
        if (s.boolean) trips = {{"TRUE", "True"}, {"no", "False"}, {"Yes", "True"}, {"x", "False"}};
        if (s.integer) trips = {{"0x7FFFFFFF", "2147483647"}, {"-42", "-42"}, {"0", "0"}};
        if (s.integer64) trips = {{"0x123456789", "4886718345"}, {"7", "7"}};
        if (s.text) trips = {{"\"a = b\"", "a = b"}, {"  spaced  ", "spaced"}, {"", ""}};
        for (const auto& [value, back] : trips) {
            WebSocketLayer engine;
            EXPECT_EQ(write(engine, name + "=" + value), 0) << name;
            EXPECT_EQ(read(engine, name), back) << name << "=" << value;
        }
    }
}

TEST(WebSocketLayerConfigTest, PlainSettingsRoundTrip) {
    expectPlainRoundTrips<WebSocketLayer>();
    expectPlainRoundTrips<HttpLayer>();
    expectPlainRoundTrips<SocketEngine>();
    expectPlainRoundTrips<EngineCommon>();
}

TEST(WebSocketLayerConfigTest, NamesIgnoreCaseAndIntegersTakeHex) {
    WebSocketLayer engine;
    EXPECT_EQ(write(engine, "maxframesize=4096"), 0);
    EXPECT_EQ(read(engine, "MaxFrameSize"), "4096");
    EXPECT_EQ(write(engine, "MAXFRAMESIZE=0x1000"), 0);
    EXPECT_EQ(engine.maxFrameSize(), 4096);
    EXPECT_EQ(write(engine, "MaxFrameSize=0X20"), 0);
    EXPECT_EQ(read(engine, "mAxFrAmEsIzE"), "32");
}

TEST(WebSocketLayerConfigTest, ReadOnlyWritesFallThroughToUnknown) {
    // A layer knows its read-only names for reading only, and no layer below
    // knows them at all.
    for (std::string_view name : {"DataInText", "DataInEOM", "URL", "TransferredHeaders", "SentHeaders",
                                  "NegotiatedHTTPVersion", "BytesTransferred", "WinsockStatus", "WinsockVersion",
                                  "SocketHandle", "RemoteHostName", "LastError"}) {
        WebSocketLayer engine;
        const std::string before = read(engine, name);
        EXPECT_EQ(write(engine, std::string(name) + "=1"), -1) << name;
        EXPECT_EQ(engine.lastErrorText(), "Unknown config setting.") << name;
        if (name != "LastError") {
            EXPECT_EQ(read(engine, name), before) << name;
        }
    }
}

TEST(WebSocketLayerConfigTest, ResponseRecordsIgnoreWrites) {
    EngineProbe engine;
    engine.respond("HTTP/1.1 101 Switching Protocols");
    EXPECT_EQ(write(engine, "StatusLine=HTTP/1.1 200 OK"), 0);
    EXPECT_EQ(write(engine, "TransferredData=abc"), 0);
    EXPECT_EQ(read(engine, "StatusLine"), "HTTP/1.1 101 Switching Protocols");
    EXPECT_EQ(read(engine, "TransferredData"), "");
}

TEST(WebSocketLayerConfigTest, WriteOnlyReadsAndUnknownNamesFail) {
    for (std::string_view text : {"KerberosToken", "FirewallData", "NoSuchSetting", "NoSuchSetting=1",
                                  "MaxFrameSize2", "Max FrameSize=1", "Timeout", "RemoteHost", "SSLCertStore",
                                  "UseWinInet=True", "ChunkSize=10", ""}) {
        WebSocketLayer engine;
        EXPECT_EQ(write(engine, text), -1) << text;
        EXPECT_EQ(engine.lastErrorText(), "Unknown config setting.") << text;
    }
    WebSocketLayer engine;
    EXPECT_EQ(write(engine, "FirewallData=anything"), 0);
}

TEST(WebSocketLayerConfigTest, EachLayerAnswersOnlyItsOwnNamesAndThoseBelow) {
    struct Case {
        std::string_view name;
        int ownerDepth;  // 0 WebSocket, 1 HTTP, 2 transport, 3 common
    };
    const Case cases[] = {{"MaxFrameSize", 0}, {"URL", 0}, {"StatusLine", 0}, {"UserAgent", 1},
                          {"ProxyServer", 1}, {"FollowRedirects", 1}, {"LocalHost", 2}, {"SSLProvider", 2},
                          {"FirewallType", 2}, {"CodePage", 3}, {"LastError", 3}};
    for (const auto& c : cases) {
        WebSocketLayer webSocket;
        HttpLayer http;
        SocketEngine transport;
        EngineCommon common;
        EngineCommon* layers[] = {&webSocket, &http, &transport, &common};
        for (int depth = 0; depth < 4; ++depth) {
            std::string result;
            const int expected = depth <= c.ownerDepth ? 0 : -1;
            EXPECT_EQ(layers[depth]->config(c.name, result), expected) << c.name << " at depth " << depth;
        }
    }
}

TEST(WebSocketLayerTest, ConnectedNeedsTheSocketAndAnOpeningOrOpenState) {
    using S = WebSocketLayer::State;
    struct Case {
        S state;
        bool socketOpen;
        bool socketConnected;
        bool connected;
    };
    const Case cases[] = {
        {S::Connecting, true, true, true}, {S::Open, true, true, true},    {S::Closing, true, true, false},
        {S::Closed, true, true, false},    {S::Open, true, false, false},  {S::Connecting, true, false, false},
        {S::Open, false, false, false},
    };
    for (const auto& c : cases) {
        EngineProbe engine;
        engine.moveTo(c.state);
        engine.socket(c.socketOpen, c.socketConnected);
        EXPECT_EQ(engine.connected(), c.connected) << static_cast<int>(c.state) << c.socketOpen << c.socketConnected;
    }
    EXPECT_FALSE(WebSocketLayer().connected());
}

TEST(WebSocketLayerTest, ReadingDataInTextTakesTheKeptPayloadAndResumes) {
    EngineProbe engine;
    engine.keep(std::string("one\0two", 7), true);
    EXPECT_EQ(read(engine, "DataInEOM"), "True");
    EXPECT_EQ(read(engine, "DataInText"), std::string("one\0two", 7));
    EXPECT_TRUE(engine.acceptData());
    EXPECT_EQ(read(engine, "DataInText"), "");
}

TEST(WebSocketLayerTest, ReadingDataInTextDeliversWhatIsAlreadyBuffered) {
    EngineProbe engine;
    DataInLog log;
    engine.setEventSink(&log);
    engine.keep("first", true);
    // Two whole text frames that arrived while reception was held back.
    engine.openWithBufferedFrames(std::string("\x81\x03two\x81\x05three", 12));
    std::string ignored;
    ASSERT_EQ(engine.config("SinglePacketMode=True", ignored), 0);

    // No new bytes are needed: the read itself delivers (and keeps) the next.
    EXPECT_EQ(read(engine, "DataInText"), "first");
    EXPECT_EQ(log.texts, std::vector<std::string>{"two"});
    EXPECT_FALSE(engine.acceptData());
    EXPECT_EQ(read(engine, "DataInText"), "two");
    EXPECT_EQ(log.texts, (std::vector<std::string>{"two", "three"}));
    EXPECT_EQ(read(engine, "DataInText"), "three");
    EXPECT_TRUE(engine.acceptData());
    engine.setEventSink(nullptr);
}

TEST(WebSocketLayerTest, ServesTheWebSocketSchemes) {
    WebSocketLayer engine;
    EXPECT_EQ(engine.plainScheme(), "ws");
    EXPECT_EQ(engine.secureScheme(), "wss");
    EXPECT_EQ(engine.state(), WebSocketLayer::State::Closed);
}

}  // namespace
}  // namespace morvane
