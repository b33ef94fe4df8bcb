#include "control/transport/socket_engine.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>

namespace morvane {
namespace {

// An engine whose socket is open, as it is between connect and close. The
// socket is real (and unconnected), since the engine closes it.
class ConnectedEngine : public SocketEngine {
public:
    ConnectedEngine() {
        socketHandle_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connected_ = true;
    }
};

std::string read(SocketEngine& engine, std::string_view name) {
    std::string value;
    EXPECT_EQ(engine.config(name, value), 0) << name;
    return value;
}

void write(SocketEngine& engine, std::string_view text) {
    std::string result;
    EXPECT_EQ(engine.config(text, result), 0) << text;
}

TEST(SocketEngineTest, OpenSocketRefusesEndpointAndBufferChanges) {
    struct Case {
        std::string_view what;
        std::function<int(SocketEngine&)> change;
        int code;
        std::string_view text;
        std::string_view setting;  // read back to see that nothing changed
        std::string_view unchanged;
    };
    const Case cases[] = {
        {"MaxLineLength", [](SocketEngine& e) { std::string r; return e.config("MaxLineLength=100", r); }, 112,
         "You cannot change MaxLineLength at this time. A connection is in progress.", "MaxLineLength", "2048"},
        {"UseWindowsMessages", [](SocketEngine& e) { std::string r; return e.config("UseWindowsMessages=0", r); },
         287, "UseWindowsMessages cannot be changed at this time. A connection is in progress.",
         "UseWindowsMessages", "True"},
        {"LocalPort", [](SocketEngine& e) { std::string r; return e.config("LocalPort=5000", r); }, 106,
         "You cannot change the LocalPort at this time. A connection is in progress.", "LocalPort", "0"},
        {"RemotePort", [](SocketEngine& e) { return e.setRemotePort(443); }, 100,
         "You cannot change the RemotePort at this time. A connection is in progress.", {}, {}},
        {"RemoteHost", [](SocketEngine& e) { return e.setRemoteHost("127.0.0.2"); }, 101,
         "You cannot change the RemoteHost at this time. A connection is in progress.", "RemoteHostName", ""},
    };
    for (const auto& c : cases) {
        ConnectedEngine engine;
        EXPECT_EQ(c.change(engine), c.code) << c.what;
        EXPECT_EQ(engine.lastErrorCode(), c.code) << c.what;
        EXPECT_EQ(engine.lastErrorText(), c.text) << c.what;
        if (!c.setting.empty()) {
            EXPECT_EQ(read(engine, c.setting), c.unchanged) << c.what;
        }

        SocketEngine closed;
        EXPECT_EQ(c.change(closed), 0) << c.what;
    }
}

TEST(SocketEngineTest, RemoteHostMayChangeBehindAFirewall) {
    ConnectedEngine engine;
    write(engine, "FirewallType=2");
    EXPECT_EQ(engine.setRemoteHost("*relay.example"), 0);
    EXPECT_EQ(read(engine, "RemoteHostName"), "*relay.example");
    EXPECT_EQ(read(engine, "SocketHandle"), std::to_string(engine.socketHandle()));
    EXPECT_GE(engine.socketHandle(), 0);
}

TEST(SocketEngineTest, TimeoutUnitSwitchKeepsTheNumber) {
    SocketEngine engine;
    EXPECT_EQ(engine.timeoutMillis(), 60000);
    write(engine, "TimeoutInMilliseconds=True");
    EXPECT_EQ(engine.timeout(), 60);
    EXPECT_EQ(engine.timeoutMillis(), 60);
    write(engine, "ConnectionTimeout=250");
    EXPECT_EQ(engine.connectionTimeoutMillis(), 250);
    write(engine, "TimeoutInMilliseconds=no");
    EXPECT_EQ(engine.timeoutMillis(), 60000);
    EXPECT_EQ(engine.connectionTimeoutMillis(), 250000);
}

TEST(SocketEngineTest, MaxLineLengthStaysWithinTheBuffersLimits) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"100000", "65536"}, {"65536", "65536"}, {"0x400", "1024"}, {"0", "1"}, {"-5", "1"},
        {"99999999999999999999", "65536"},
    };
    for (const auto& [value, stored] : cases) {
        SocketEngine engine;
        write(engine, std::string("MaxLineLength=") + std::string(value));
        EXPECT_EQ(read(engine, "MaxLineLength"), stored) << value;
    }
}

TEST(SocketEngineTest, SettingsWithTheirOwnSpelling) {
    struct Case {
        std::string_view write;
        std::string_view name;
        std::string_view read;
    };
    const Case cases[] = {
        {"UseIPv6=2", "UseIPv6", "2"},
        {"UseIPv6=yes", "UseIPv6", "True"},
        {"UseIPv6=3", "UseIPv6", "False"},
        {"QOSTrafficType=voice", "QOSTrafficType", "4"},
        {"QOSTrafficType=Control", "QOSTrafficType", "5"},
        {"QOSTrafficType=0x3", "QOSTrafficType", "3"},
        {"QOSTrafficType=Unknown", "QOSTrafficType", "0"},
        {"SSLAlgorithmList=CALG_AES_256; CALG_SHA_384", "SSLEnabledCipherSuites", "CALG_AES_256; CALG_SHA_384"},
        {"SSLEnabledCipherSuites=CALG_RC4", "SSLAlgorithmList", "CALG_RC4"},
        {"SSLSecurityFlags=0x80000000", "SSLSecurityFlags", "-2147483648"},
        {"MaxTransferRate=0x100000000", "MaxTransferRate", "4294967296"},
        {"RecordToString=ON", "RecordToString", ""},
    };
    for (const auto& c : cases) {
        SocketEngine engine;
        write(engine, c.write);
        EXPECT_EQ(read(engine, c.name), c.read) << c.write;
    }
}

TEST(SocketEngineTest, FirewallKindSetsTheDefaultPortOfItsProtocol) {
    struct Case {
        int startPort;
        std::string_view kind;
        std::string_view port;
    };
    const Case cases[] = {
        {0, "1", "80"}, {0, "2", "1080"}, {0, "3", "1080"}, {0, "6", "80"},
        {3128, "1", "3128"}, {3128, "2", "3128"}, {3128, "0", "0"},
    };
    for (const auto& c : cases) {
        SocketEngine engine;
        engine.setFirewallPort(c.startPort);
        write(engine, std::string("FirewallType=") + std::string(c.kind));
        EXPECT_EQ(read(engine, "FirewallPort"), c.port) << c.startPort << " kind " << c.kind;
    }
}

TEST(SocketEngineTest, AutoDetectionStartsFromAnEmptyFirewallEndpoint) {
    for (std::string_view value : {"True", "False"}) {
        SocketEngine engine;
        write(engine, "FirewallHost=proxy.example");
        write(engine, "FirewallPort=1081");
        write(engine, std::string("FirewallAutoDetect=") + std::string(value));
        EXPECT_EQ(read(engine, "FirewallAutoDetect"), value);
        EXPECT_EQ(read(engine, "FirewallHost"), "");
        EXPECT_EQ(read(engine, "FirewallPort"), "0");
    }
}

TEST(SocketEngineTest, SystemVersionDecidesBufferSizesAndExtendedProtection) {
    struct Case {
        int major;
        int minor;
        std::string_view inBuffer;
        std::string_view outBuffer;
        std::string_view extendedProtection;
    };
    const Case cases[] = {
        {5, 1, "65536", "65536", "False"},
        {6, 0, "1048576", "262144", "False"},
        {6, 1, "1048576", "262144", "True"},
        {10, 0, "1048576", "262144", "True"},
    };
    for (const auto& c : cases) {
        SocketEngine engine(EngineEnvironment{.systemMajorVersion = c.major, .systemMinorVersion = c.minor});
        EXPECT_EQ(read(engine, "InBufferSize"), c.inBuffer) << c.major << "." << c.minor;
        EXPECT_EQ(read(engine, "OutBufferSize"), c.outBuffer) << c.major << "." << c.minor;
        EXPECT_EQ(read(engine, "ExtendedProtection"), c.extendedProtection) << c.major << "." << c.minor;
    }
}

TEST(SocketEngineTest, FillsAMissingDescriptionFromTheCode) {
    const std::pair<int, std::string_view> cases[] = {
        {301, "Interrupted."},
        {200, "Out of memory."},
        {10061, "[10061] Connection refused"},
        {10099, "[10099] (no description available)"},
        {151, ""},
    };
    for (const auto& [code, text] : cases) {
        SocketEngine engine;
        engine.describeError(code);
        EXPECT_EQ(engine.lastErrorText(), text) << code;
    }

    // A description already left by the failure is kept.
    ConnectedEngine engine;
    std::string result;
    ASSERT_EQ(engine.config("MaxLineLength=1", result), 112);
    engine.describeError(10054);
    EXPECT_EQ(engine.lastErrorText(), "You cannot change MaxLineLength at this time. A connection is in progress.");
}

}  // namespace
}  // namespace morvane
