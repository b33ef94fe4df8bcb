// The whole engine as the control's Config method drives it: every setting
// of every layer and of the settings beside the stack, asked from the top down.
#include "control/engine/morvane_engine.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <vector>

namespace morvane {
namespace {

std::string read(MorvaneEngine& engine, std::string_view name) {
    std::string value;
    EXPECT_EQ(engine.config(name, value), 0) << name;
    return value;
}

int write(MorvaneEngine& engine, std::string_view text) {
    std::string result = "stale";
    const int code = engine.config(text, result);
    EXPECT_EQ(result, "") << text;
    return code;
}

// Every setting a read answers, with its value on a new control (Windows-1252,
// a current system). Write-only settings are the ones missing here.
const std::map<std::string, std::string> defaults = {
    // WebSocket layer
    {"MaxFrameSize", "131072"},
    {"MaxMessageSize", "67108864"},
    {"StrictProtocol", "False"},
    {"ClosedCleanly", "False"},
    {"DisconnectStatusCode", "-1"},
    {"DisconnectStatusDescription", ""},
    {"BufferMessage", "False"},
    {"SinglePacketMode", "False"},
    {"DataInText", ""},
    {"DataInEOM", "False"},
    {"URL", ""},
    {"StatusLine", ""},
    {"TransferredData", ""},
    // HTTP layer
    {"UserAgent", "QuillonWS Morvane 1.0"},
    {"HTTPVersion", "1.1"},
    {"KeepAlive", "False"},
    {"FollowRedirects", "0"},
    {"MaxRedirectAttempts", "20"},
    {"AllowIdenticalRedirectURL", "False"},
    {"GetOn302Redirect", "False"},
    {"AbsoluteURI", "False"},
    {"EncodeURL", "False"},
    {"EncodeQueryString", "True"},
    {"EncodeRedirectLocation", "False"},
    {"OtherHeaders", ""},
    {"Authorization", ""},
    {"HttpCookies", ""},
    {"DontClearCookiesOnUrlChange", "False"},
    {"ProxyServer", ""},
    {"ProxyPort", "80"},
    {"ProxyUser", ""},
    {"ProxyPassword", ""},
    {"ProxyAuthScheme", "0"},
    {"ProxyAuthorization", ""},
    {"IfModifiedSince", ""},
    {"AcceptEncoding", "gzip, deflate"},
    {"AllowHTTPCompression", "False"},
    {"Loglevel", "1"},
    {"TransferredHeaders", ""},
    {"SentHeaders", ""},
    {"TransferredRequest", ""},
    {"NegotiatedHTTPVersion", ""},
    {"BytesTransferred", "0"},
    // Transport: socket engine, firewall, secure channel, authentication
    {"SelectWaitMillis", "20"},
    {"AbsoluteTimeout", "False"},
    {"TimeoutInMilliseconds", "False"},
    {"WinsockStatus", "0"},
    {"IgnoreExternalEvents", "False"},
    {"IgnoreOtherWindowEvents", "False"},
    {"WinsockVersion", "2.2"},
    {"QOSTrafficType", "0"},
    {"QOSDSCPValue", "0"},
    {"UseWindowsMessages", "True"},
    {"UseIPv6", "False"},
    {"UseGetAddrInfo", "True"},
    {"ShareLocalPort", "False"},
    {"MaxTransferRate", "0"},
    {"SplitCRLF", "False"},
    {"MaxLineLength", "2048"},
    {"SocketHandle", "-1"},
    {"LocalHost", ""},
    {"LocalPort", "0"},
    {"FirewallAutoDetect", "False"},
    {"FirewallHost", ""},
    {"FirewallPort", "0"},
    {"FirewallType", "0"},
    {"FirewallUser", ""},
    {"FirewallPassword", ""},
    {"ProxyExceptionsList", ""},
    {"InBufferSize", "1048576"},
    {"OutBufferSize", "262144"},
    {"TcpNoDelay", "False"},
    {"TCPKeepAlive", "False"},
    {"KeepAliveTime", "0"},
    {"KeepAliveInterval", "0"},
    {"MaxReceiveDataTime", "0"},
    {"Linger", "True"},
    {"LingerTime", "0"},
    {"GracefullyShutDownSSL", "False"},
    {"BindIPv6Address", "True"},
    {"ConnectionTimeout", "0"},
    {"SSLProvider", "Microsoft Unified Security Protocol Provider"},
    {"SSLCipherStrength", "40"},
    {"SSLEnabledCipherSuites", ""},
    {"SSLAlgorithmList", ""},
    {"SSLEnabledProtocols", "4032"},
    {"SSLEnableRenegotiation", "True"},
    {"SSLSecurityFlags", "0"},
    {"SSLIncludeCertChain", "False"},
    {"ReuseSSLSession", "False"},
    {"ParseSSLServerCert", "False"},
    {"ALPNExtension", ""},
    {"UseDefaultCredentials", "False"},
    {"ExtendedProtection", "True"},
    {"KerberosSPN", ""},
    {"UseSystemSSPI", "True"},
    {"RecordToFile", ""},
    {"RecordToString", ""},
    {"RemoteHostName", ""},
    // Common
    {"CodePage", "0"},
    {"CharsetMode", "0"},
    {"LogDebugFile", ""},
    {"LogDebugOption", "0"},
    {"LastError", ""},
    {"ZeroMemory", "False"},
};

// Calls `visit` with each settings table of the engine, top down.
template <class Visit>
void forEachTable(Visit visit) {
    visit(WebSocketLayer::settings());
    visit(HttpLayer::settings());
    visit(SocketEngine::settings());
    visit(Waiter::settings());
    visit(ProxySettings::settings());
    visit(TlsSettings::settings());
    visit(AuthSettings::settings());
    visit(EngineContext::settings());
}

TEST(MorvaneEngineConfigTest, EverySettingReadsItsDefault) {
    std::set<std::string> readable;
    std::set<std::string> all;
    forEachTable([&](const auto& table) {
        for (const auto& setting : table) {
            all.insert(std::string(setting.name));
            if (setting.answersReads()) readable.insert(std::string(setting.name));
        }
    });
    std::set<std::string> tested;
    for (const auto& [name, value] : defaults) tested.insert(name);
    EXPECT_EQ(readable, tested);
    EXPECT_EQ(all.size(), readable.size() + 2);  // KerberosToken and FirewallData are write-only

    MorvaneEngine engine;
    for (const auto& [name, value] : defaults) EXPECT_EQ(read(engine, name), value) << name;
}

TEST(MorvaneEngineConfigTest, NoNameBelongsToTwoTables) {
    std::multiset<std::string> names;
    forEachTable([&](const auto& table) {
        for (const auto& setting : table) {
            std::string lower(setting.name);
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            names.insert(lower);
        }
    });
    for (const auto& name : names) EXPECT_EQ(names.count(name), 1u) << name;
}

TEST(MorvaneEngineConfigTest, PlainSettingsRoundTrip) {
    // Plain stored settings take any value of their kind back unchanged.
    forEachTable([](const auto& table) {
        for (const auto& s : table) {
            if (s.access != SettingAccess::ReadWrite || s.read || s.write) continue;
            const std::string name(s.name);
            std::vector<std::pair<std::string, std::string>> trips;
            if (s.boolean) trips = {{"TRUE", "True"}, {"no", "False"}, {"Yes", "True"}, {"x", "False"}};
            if (s.integer) trips = {{"0x7FFFFFFF", "2147483647"}, {"-42", "-42"}, {"0", "0"}};
            if (s.integer64) trips = {{"0x123456789", "4886718345"}, {"7", "7"}};
            if (s.text) trips = {{"\"a = b\"", "a = b"}, {"  spaced  ", "spaced"}, {"", ""}};
            for (const auto& [value, back] : trips) {
                MorvaneEngine engine;
                EXPECT_EQ(write(engine, name + "=" + value), 0) << name;
                EXPECT_EQ(read(engine, name), back) << name << "=" << value;
            }
        }
    });
}

TEST(MorvaneEngineConfigTest, NamesIgnoreCaseAndIntegersTakeHex) {
    MorvaneEngine engine;
    EXPECT_EQ(write(engine, "maxframesize=4096"), 0);
    EXPECT_EQ(read(engine, "MaxFrameSize"), "4096");
    EXPECT_EQ(write(engine, "MAXFRAMESIZE=0x1000"), 0);
    EXPECT_EQ(engine.webSocket().maxFrameSize(), 4096);
    EXPECT_EQ(write(engine, "MaxFrameSize=0X20"), 0);
    EXPECT_EQ(read(engine, "mAxFrAmEsIzE"), "32");
}

TEST(MorvaneEngineConfigTest, ReadOnlyWritesFallThroughToUnknown) {
    // A layer knows its read-only names for reading only, and no layer below
    // knows them at all.
    for (std::string_view name :
         {"DataInText", "DataInEOM", "URL", "TransferredHeaders", "SentHeaders", "NegotiatedHTTPVersion",
          "BytesTransferred", "WinsockStatus", "WinsockVersion", "SocketHandle", "RemoteHostName", "LastError"}) {
        MorvaneEngine engine;
        const std::string before = read(engine, name);
        EXPECT_EQ(write(engine, std::string(name) + "=1"), -1) << name;
        EXPECT_EQ(engine.lastErrorText(), "Unknown config setting.") << name;
        if (name != "LastError") {
            EXPECT_EQ(read(engine, name), before) << name;
        }
    }
}

TEST(MorvaneEngineConfigTest, ResponseRecordsIgnoreWrites) {
    MorvaneEngine engine;
    EXPECT_EQ(write(engine, "StatusLine=HTTP/1.1 200 OK"), 0);
    EXPECT_EQ(write(engine, "TransferredData=abc"), 0);
    EXPECT_EQ(read(engine, "StatusLine"), "");
    EXPECT_EQ(read(engine, "TransferredData"), "");
}

TEST(MorvaneEngineConfigTest, WriteOnlyReadsAndUnknownNamesFail) {
    for (std::string_view text :
         {"KerberosToken", "FirewallData", "NoSuchSetting", "NoSuchSetting=1", "MaxFrameSize2", "Max FrameSize=1",
          "Timeout", "RemoteHost", "SSLCertStore", "UseWinInet=True", "ChunkSize=10", ""}) {
        MorvaneEngine engine;
        EXPECT_EQ(write(engine, text), -1) << text;
        EXPECT_EQ(engine.lastErrorText(), "Unknown config setting.") << text;
    }
    MorvaneEngine engine;
    EXPECT_EQ(write(engine, "FirewallData=anything"), 0);
}

TEST(MorvaneEngineConfigTest, TablesAreAskedFromTheTopDown) {
    // A table that knows a name answers before the ones below it: a stand-in
    // table at each rank claims every name, and the highest one wins.
    MorvaneEngine engine;
    EngineContext& context = engine.context();
    const SettingsRank ranks[] = {SettingsRank::Common, SettingsRank::Socket, SettingsRank::WebSocket};
    int owners[3] = {};
    for (int i = 0; i < 3; ++i) {
        context.addSettings(ranks[i], &owners[i], [i](const ConfigText&, std::string& result) -> std::optional<int> {
            result = "rank" + std::to_string(i);
            return 0;
        });
        // The socket's own setting, and one that nobody knows.
        EXPECT_EQ(read(engine, "LocalHost"), i == 2 ? "rank2" : "") << i;
        EXPECT_EQ(read(engine, "NoSuchSetting"), "rank" + std::to_string(i));
    }
    for (int& owner : owners) context.removeSettings(&owner);
    std::string result;
    EXPECT_EQ(engine.config("NoSuchSetting", result), -1);
    EXPECT_EQ(read(engine, "LocalHost"), "");
}

}  // namespace
}  // namespace morvane
