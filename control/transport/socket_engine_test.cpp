#include "control/transport/socket_engine.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "control/transport/socket_test_support.h"

namespace morvane {
namespace {

using socket_test::Listener;
using socket_test::SocketStack;

// A stack whose socket is open and connected, as it is between connect and
// close: connected for real to a listener on loopback.
class ConnectedStack : public SocketStack {
public:
    ConnectedStack() {
        EXPECT_TRUE(listener_.ok());
        EXPECT_EQ(engine.setRemoteHost("127.0.0.1"), 0);
        EXPECT_EQ(engine.setRemotePort(listener_.port()), 0);
        EXPECT_EQ(connectAndWait(), 0) << lastErrorText();
        EXPECT_TRUE(engine.socketConnected());
        context.clearLastError();
    }

private:
    Listener listener_;
};

std::string read(SocketStack& stack, std::string_view name) {
    std::string value;
    EXPECT_EQ(stack.context.config(name, value), 0) << name;
    return value;
}

void write(SocketStack& stack, std::string_view text) {
    std::string result;
    EXPECT_EQ(stack.context.config(text, result), 0) << text;
}

TEST(SocketEngineTest, OpenSocketRefusesEndpointAndBufferChanges) {
    struct Case {
        std::string_view what;
        std::function<int(SocketStack&)> change;
        int code;
        std::string_view text;
        std::string_view setting;  // read back to see that nothing changed
        std::string_view unchanged;
    };
    const Case cases[] = {
        {"MaxLineLength", [](SocketStack& s) { return s.config("MaxLineLength=100"); }, 112,
         "You cannot change MaxLineLength at this time. A connection is in progress.", "MaxLineLength", "2048"},
        {"UseWindowsMessages", [](SocketStack& s) { return s.config("UseWindowsMessages=0"); }, 287,
         "UseWindowsMessages cannot be changed at this time. A connection is in progress.", "UseWindowsMessages",
         "True"},
        {"LocalPort", [](SocketStack& s) { return s.config("LocalPort=5000"); }, 106,
         "You cannot change the LocalPort at this time. A connection is in progress.", "LocalPort", "0"},
        {"RemotePort",
         [](SocketStack& s) { return s.engine.setRemotePort(443); },
         100,
         "You cannot change the RemotePort at this time. A connection is in progress.",
         {},
         {}},
        // The open connection went to 127.0.0.1, and that name stays.
        {"RemoteHost", [](SocketStack& s) { return s.engine.setRemoteHost("127.0.0.2"); }, 101,
         "You cannot change the RemoteHost at this time. A connection is in progress.", "RemoteHostName", "127.0.0.1"},
    };
    for (const auto& c : cases) {
        ConnectedStack open;
        const int remotePort = open.engine.remotePort();
        const std::string localPort = read(open, "LocalPort");
        EXPECT_EQ(c.change(open), c.code) << c.what;
        EXPECT_EQ(open.lastErrorCode(), c.code) << c.what;
        EXPECT_EQ(open.lastErrorText(), c.text) << c.what;
        EXPECT_EQ(open.engine.remotePort(), remotePort) << c.what;
        EXPECT_TRUE(open.engine.socketConnected()) << c.what;
        if (!c.setting.empty()) {
            // While the socket is open, LocalPort reads the port it is bound
            // to; the setting itself shows once it is closed.
            EXPECT_EQ(read(open, c.setting), c.what == "LocalPort" ? localPort : std::string(c.unchanged)) << c.what;
            EXPECT_EQ(open.engine.disconnect(), 0) << c.what;
            EXPECT_EQ(read(open, c.setting), c.unchanged) << c.what;
        }

        SocketStack closed;
        EXPECT_EQ(c.change(closed), 0) << c.what;
    }
}

TEST(SocketEngineTest, RemoteHostMayChangeBehindAFirewall) {
    ConnectedStack stack;
    write(stack, "FirewallType=2");
    EXPECT_EQ(stack.engine.setRemoteHost("*relay.example"), 0);
    EXPECT_EQ(read(stack, "RemoteHostName"), "*relay.example");
    EXPECT_EQ(read(stack, "SocketHandle"), std::to_string(stack.engine.socketHandle()));
    EXPECT_GE(stack.engine.socketHandle(), 0);
}

TEST(SocketEngineTest, TimeoutUnitSwitchKeepsTheNumber) {
    SocketStack stack;
    const Waiter& waiter = stack.waiter();
    EXPECT_EQ(waiter.timeoutMillis(), 60000);
    write(stack, "TimeoutInMilliseconds=True");
    EXPECT_EQ(waiter.timeout(), 60);
    EXPECT_EQ(waiter.timeoutMillis(), 60);
    write(stack, "ConnectionTimeout=250");
    EXPECT_EQ(waiter.connectionTimeoutMillis(), 250);
    write(stack, "TimeoutInMilliseconds=no");
    EXPECT_EQ(waiter.timeoutMillis(), 60000);
    EXPECT_EQ(waiter.connectionTimeoutMillis(), 250000);
}

TEST(SocketEngineTest, MaxLineLengthStaysWithinTheBuffersLimits) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"100000", "65536"}, {"65536", "65536"}, {"0x400", "1024"},
        {"0", "1"},          {"-5", "1"},        {"99999999999999999999", "65536"},
    };
    for (const auto& [value, stored] : cases) {
        SocketStack stack;
        write(stack, std::string("MaxLineLength=") + std::string(value));
        EXPECT_EQ(read(stack, "MaxLineLength"), stored) << value;
        EXPECT_EQ(stack.engine.maxLineLength(), std::stoi(std::string(stored))) << value;
    }
}

TEST(SocketEngineTest, SettingsWithTheirOwnSpelling) {
    struct Case {
        std::string_view write;
        std::string_view name;
        std::string_view read;
    };
    // The SSL settings' spellings (SSLAlgorithmList and SSLEnabledCipherSuites
    // naming one value, SSLSecurityFlags=0x80000000 reading -2147483648) went
    // with TlsSettings, which this binary does not link; they are checked on
    // the whole engine in control/engine/morvane_engine_test.cpp.
    const Case cases[] = {
        {"UseIPv6=2", "UseIPv6", "2"},
        {"UseIPv6=yes", "UseIPv6", "True"},
        {"UseIPv6=3", "UseIPv6", "False"},
        {"QOSTrafficType=voice", "QOSTrafficType", "4"},
        {"QOSTrafficType=Control", "QOSTrafficType", "5"},
        {"QOSTrafficType=0x3", "QOSTrafficType", "3"},
        {"QOSTrafficType=Unknown", "QOSTrafficType", "0"},
        {"MaxTransferRate=0x100000000", "MaxTransferRate", "4294967296"},
        {"RecordToString=ON", "RecordToString", ""},
    };
    for (const auto& c : cases) {
        SocketStack stack;
        write(stack, c.write);
        EXPECT_EQ(read(stack, c.name), c.read) << c.write;
    }
}

TEST(SocketEngineTest, FirewallKindSetsTheDefaultPortOfItsProtocol) {
    struct Case {
        int startPort;
        std::string_view kind;
        std::string_view port;
    };
    const Case cases[] = {
        {0, "1", "80"},      {0, "2", "1080"},    {0, "3", "1080"}, {0, "6", "80"},
        {3128, "1", "3128"}, {3128, "2", "3128"}, {3128, "0", "0"},
    };
    for (const auto& c : cases) {
        SocketStack stack;
        stack.proxy.firewallPort = c.startPort;
        write(stack, std::string("FirewallType=") + std::string(c.kind));
        EXPECT_EQ(read(stack, "FirewallPort"), c.port) << c.startPort << " kind " << c.kind;
    }
}

TEST(SocketEngineTest, AutoDetectionStartsFromAnEmptyFirewallEndpoint) {
    for (std::string_view value : {"True", "False"}) {
        SocketStack stack;
        write(stack, "FirewallHost=proxy.example");
        write(stack, "FirewallPort=1081");
        write(stack, std::string("FirewallAutoDetect=") + std::string(value));
        EXPECT_EQ(read(stack, "FirewallAutoDetect"), value);
        EXPECT_EQ(read(stack, "FirewallHost"), "");
        EXPECT_EQ(read(stack, "FirewallPort"), "0");
    }
}

// ExtendedProtection's system-dependent default went with AuthSettings; it
// is checked on the whole engine in control/engine/morvane_engine_test.cpp.
TEST(SocketEngineTest, SystemVersionDecidesBufferSizes) {
    struct Case {
        int major;
        int minor;
        std::string_view inBuffer;
        std::string_view outBuffer;
    };
    const Case cases[] = {
        {5, 1, "65536", "65536"},
        {6, 0, "1048576", "262144"},
        {6, 1, "1048576", "262144"},
        {10, 0, "1048576", "262144"},
    };
    for (const auto& c : cases) {
        SocketStack stack(EngineEnvironment{.systemMajorVersion = c.major, .systemMinorVersion = c.minor});
        EXPECT_EQ(read(stack, "InBufferSize"), c.inBuffer) << c.major << "." << c.minor;
        EXPECT_EQ(read(stack, "OutBufferSize"), c.outBuffer) << c.major << "." << c.minor;
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
        SocketStack stack;
        stack.context.describeError(code);
        EXPECT_EQ(stack.lastErrorText(), text) << code;
    }

    // A description already left by the failure is kept.
    ConnectedStack stack;
    ASSERT_EQ(stack.config("MaxLineLength=1"), 112);
    stack.context.describeError(10054);
    EXPECT_EQ(stack.lastErrorText(), "You cannot change MaxLineLength at this time. A connection is in progress.");
}

}  // namespace
}  // namespace morvane
