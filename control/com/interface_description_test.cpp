#include "control/com/interface_description.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <map>
#include <set>

#include "control/engine/morvane_engine.h"

namespace morvane {
namespace {

std::string lower(std::string_view name) {
    std::string result(name);
    for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

TEST(InterfaceDescriptionTest, PropertiesTakeEveryDispidOnceAndNamesAreUnambiguous) {
    std::set<std::int32_t> dispids;
    std::set<std::string> names;
    for (const auto& p : properties()) {
        EXPECT_TRUE(dispids.insert(p.dispid).second) << p.dispid;
        EXPECT_TRUE(names.insert(lower(p.name)).second) << p.name;
    }
    for (const auto& m : methods()) EXPECT_TRUE(names.insert(lower(m.name)).second) << m.name;
    EXPECT_EQ(dispids.size(), 53u);
    EXPECT_EQ(*dispids.begin(), 1);
    EXPECT_EQ(*dispids.rbegin(), 53);
    EXPECT_EQ(methods().size(), 11u);
    EXPECT_EQ(events().size(), 11u);
}

TEST(InterfaceDescriptionTest, LookupsIgnoreCase) {
    ASSERT_NE(findProperty("timeout"), nullptr);
    EXPECT_EQ(findProperty("TIMEOUT")->dispid, 44);
    EXPECT_EQ(findProperty(21)->name, "FollowRedirects");
    ASSERT_NE(findMethod("config"), nullptr);
    EXPECT_EQ(findMethod("Config")->dispid, 503);
    EXPECT_EQ(findMethod("aboutbox")->dispid, -552);
    EXPECT_EQ(findProperty("NoSuchProperty"), nullptr);
    EXPECT_EQ(findProperty(54), nullptr);
    EXPECT_EQ(findEvent(8)->name, "Redirect");
    EXPECT_EQ(findEvent(12), nullptr);
}

TEST(InterfaceDescriptionTest, RangeRulesOfThePuts) {
    struct Case {
        std::string_view property;
        std::int64_t value;
        bool accepted;
    };
    const Case cases[] = {
        {"FollowRedirects", 2, true},    {"FollowRedirects", 3, false}, {"AuthScheme", 200, true},
        {"AuthScheme", 255, true},       {"AuthScheme", 256, false},    {"ProxyAuthScheme", 256, false},
        {"DataFormat", 255, true},       {"DataFormat", 256, false},    {"FirewallType", 3, true},
        {"FirewallType", 4, false},      {"ProxySSL", 4, false},        {"SSLCertStoreType", 17, true},
        {"SSLCertStoreType", 18, false}, {"FirewallPort", 70000, true}, {"Timeout", 32767, true},
    };
    for (const auto& c : cases) {
        const PropertyDescription* property = findProperty(c.property);
        ASSERT_NE(property, nullptr) << c.property;
        EXPECT_EQ(inRange(*property, c.value), c.accepted) << c.property << " = " << c.value;
    }
}

TEST(InterfaceDescriptionTest, OnlyTheAcceptParametersAreReadBack) {
    for (const auto& event : events()) {
        for (const auto& parameter : event.parameters) {
            EXPECT_EQ(parameter.readBack, parameter.name == "Accept") << event.name << "." << parameter.name;
        }
    }
}

TEST(InterfaceDescriptionTest, EnumerationsAreInKindOrderWithUniqueMemberNames) {
    std::set<std::string_view> members;
    for (const auto& e : enumerations()) {
        EXPECT_EQ(&enumeration(e.kind), &e) << e.name;
        for (const auto& member : e.members) EXPECT_TRUE(members.insert(member.name).second) << member.name;
    }
    for (const auto& p : properties()) {
        if (p.type.type == AutomationType::Enumeration && p.defaultValue.kind == PropertyDefault::Kind::Number) {
            // The default is a member of the property's enumeration.
            bool found = false;
            for (const auto& member : enumeration(p.type.enumeration).members) {
                found = found || member.value == p.defaultValue.number;
            }
            EXPECT_TRUE(found) << p.name;
        }
    }
}

// The property table and the engine are written from two sides; a new engine
// must hold exactly the defaults the table promises.
TEST(InterfaceDescriptionTest, EngineStartsWithTheTablesDefaults) {
    using Reader = std::function<std::string(const MorvaneEngine&)>;
    auto number = [](auto value) { return std::to_string(value); };
    auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
    const std::map<std::string_view, Reader> readers = {
        {"AcceptData", [&](const auto& e) { return flag(e.http().acceptData()); }},
        {"Authorization", [](const auto& e) { return e.http().authorization(); }},
        {"AuthScheme", [&](const auto& e) { return number(e.http().authScheme()); }},
        {"BytesSent", [&](const auto& e) { return number(e.webSocket().bytesSent()); }},
        {"Connected", [&](const auto& e) { return flag(e.webSocket().connected()); }},
        {"CookieCount", [&](const auto& e) { return number(e.http().cookies().size()); }},
        {"DataFormat", [&](const auto& e) { return number(e.webSocket().dataFormat()); }},
        {"FirewallAutoDetect", [&](const auto& e) { return flag(e.proxy().firewallAutoDetect); }},
        {"FirewallType", [&](const auto& e) { return number(e.proxy().firewallType); }},
        {"FirewallHost", [](const auto& e) { return e.proxy().firewallHost; }},
        {"FirewallPassword", [](const auto& e) { return e.proxy().firewallPassword; }},
        {"FirewallPort", [&](const auto& e) { return number(e.proxy().firewallPort); }},
        {"FirewallUser", [](const auto& e) { return e.proxy().firewallUser; }},
        {"FollowRedirects", [&](const auto& e) { return number(e.http().followRedirects()); }},
        {"LocalHost", [](const auto& e) { return e.socket().localHost(); }},
        {"Origin", [](const auto& e) { return e.http().origin(); }},
        {"OtherHeaders", [](const auto& e) { return e.http().otherHeaders(); }},
        {"ParsedHeaderCount", [&](const auto& e) { return number(e.http().parsedHeaders().size()); }},
        {"Password", [](const auto& e) { return e.http().password(); }},
        {"ProxyAuthScheme", [&](const auto& e) { return number(e.proxy().proxyAuthScheme); }},
        {"ProxyAutoDetect", [&](const auto& e) { return flag(e.proxy().proxyAutoDetect); }},
        {"ProxyPassword", [](const auto& e) { return e.proxy().proxyPassword; }},
        {"ProxyPort", [&](const auto& e) { return number(e.proxy().proxyPort); }},
        {"ProxyServer", [](const auto& e) { return e.proxy().proxyServer; }},
        {"ProxySSL", [&](const auto& e) { return number(e.proxy().proxySsl); }},
        {"ProxyUser", [](const auto& e) { return e.proxy().proxyUser; }},
        {"SSLAcceptServerCertEncoded", [](const auto& e) { return e.tls().sslAcceptServerCertEncoded; }},
        {"SSLCertEncoded", [](const auto& e) { return e.tls().sslCertEncoded; }},
        {"SSLCertStore", [](const auto& e) { return e.tls().sslCertStore; }},
        {"SSLCertStorePassword", [](const auto& e) { return e.tls().sslCertStorePassword; }},
        {"SSLCertStoreType", [&](const auto& e) { return number(e.tls().sslCertStoreType); }},
        {"SSLCertSubject", [](const auto& e) { return e.tls().sslCertSubject; }},
        {"SSLServerCertEncoded", [](const auto& e) { return e.tls().sslServerCertEncoded; }},
        {"SubProtocols", [](const auto& e) { return e.http().subProtocols(); }},
        {"Timeout", [&](const auto& e) { return number(e.waiter().timeout()); }},
        {"TransferredHeaders", [](const auto& e) { return e.http().transferredHeaders(); }},
        {"User", [](const auto& e) { return e.http().user(); }},
    };

    const MorvaneEngine engine;
    std::size_t checked = 0;
    for (const auto& p : properties()) {
        if (p.defaultValue.kind == PropertyDefault::Kind::None) continue;
        const auto reader = readers.find(p.name);
        ASSERT_NE(reader, readers.end()) << p.name << " has a default but no engine reader here";
        const std::string expected = p.defaultValue.kind == PropertyDefault::Kind::Text
                                         ? std::string(p.defaultValue.text)
                                         : std::to_string(p.defaultValue.number);
        EXPECT_EQ(reader->second(engine), expected) << p.name;
        ++checked;
    }
    EXPECT_EQ(checked, readers.size());
}

}  // namespace
}  // namespace morvane
