#include "control/com/interface_description.h"

#include <array>

#include "control/engine/ascii.h"
#include "control/engine/config_text.h"

namespace morvane {
namespace {

using PA = PropertyAccess;
using RO = RuntimeOnly;
using EK = EnumerationKind;

constexpr TypeRef booleanType{AutomationType::Boolean};
constexpr TypeRef integerType{AutomationType::Integer};
constexpr TypeRef longType{AutomationType::Long};
constexpr TypeRef stringType{AutomationType::String};
constexpr TypeRef byteArrayType{AutomationType::ByteArray};
constexpr TypeRef unknownType{AutomationType::Unknown};
constexpr TypeRef enumType(EK kind) { return {AutomationType::Enumeration, kind}; }

constexpr PropertyDefault noDefault{};
constexpr PropertyDefault isTrue{PropertyDefault::Kind::Boolean, 1, {}};
constexpr PropertyDefault isFalse{PropertyDefault::Kind::Boolean, 0, {}};
constexpr PropertyDefault number(std::int32_t value) { return {PropertyDefault::Kind::Number, value, {}}; }
constexpr PropertyDefault text(std::string_view value) { return {PropertyDefault::Kind::Text, 0, value}; }
constexpr PropertyDefault empty = text("");

constexpr std::string_view cookieIndex = "CookieIndex";
constexpr std::string_view headerIndex = "ParsedHeaderIndex";

constexpr PropertyDescription propertyTable[] = {
    {1, "AcceptData", booleanType, PA::ReadWrite, RO::Get, isTrue, {}, {}, "SocketEngine::acceptData"},
    {2, "Authorization", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "HttpLayer::authorization"},
    {3, "AuthScheme", enumType(EK::AuthSchemes), PA::ReadWrite, RO::No, number(0), 255, {}, "HttpLayer::authScheme"},
    {4, "BytesSent", longType, PA::ReadOnly, RO::Get, number(0), {}, {}, "WebSocketLayer::bytesSent"},
    {5, "Connected", booleanType, PA::ReadWrite, RO::Get, isFalse, {}, {}, "WebSocketLayer::connected"},
    {6, "CookieCount", integerType, PA::ReadWrite, RO::Get, number(0), {}, {}, "HttpLayer::cookies"},
    {7, "CookieDomain", stringType, PA::ReadOnly, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {8, "CookieExpiration", stringType, PA::ReadOnly, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {9, "CookieName", stringType, PA::ReadWrite, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {10, "CookiePath", stringType, PA::ReadOnly, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {11, "CookieSecure", booleanType, PA::ReadOnly, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {12, "CookieValue", stringType, PA::ReadWrite, RO::Get, noDefault, {}, cookieIndex, "HttpLayer::cookies"},
    {13,
     "DataFormat",
     enumType(EK::DataFormats),
     PA::ReadWrite,
     RO::No,
     number(0),
     255,
     {},
     "WebSocketLayer::dataFormat"},
    {14, "DataToSend", stringType, PA::WriteOnly, RO::No, noDefault, {}, {}, "WebSocketLayer::send"},
    {15, "FirewallAutoDetect", booleanType, PA::ReadWrite, RO::No, isFalse, {}, {}, "SocketEngine::firewallAutoDetect"},
    {16,
     "FirewallType",
     enumType(EK::FirewallTypes),
     PA::ReadWrite,
     RO::No,
     number(0),
     3,
     {},
     "SocketEngine::firewallType"},
    {17, "FirewallHost", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::firewallHost"},
    {18, "FirewallPassword", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::firewallPassword"},
    {19, "FirewallPort", longType, PA::ReadWrite, RO::No, number(0), {}, {}, "SocketEngine::firewallPort"},
    {20, "FirewallUser", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::firewallUser"},
    {21,
     "FollowRedirects",
     enumType(EK::TFollowRedirects),
     PA::ReadWrite,
     RO::No,
     number(0),
     2,
     {},
     "HttpLayer::followRedirects"},
    {22, "LocalHost", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::localHost"},
    {23, "Origin", stringType, PA::ReadWrite, RO::Get, empty, {}, {}, "HttpLayer::origin"},
    {24, "OtherHeaders", stringType, PA::ReadWrite, RO::Get, empty, {}, {}, "HttpLayer::otherHeaders"},
    {25, "ParsedHeaderCount", integerType, PA::ReadOnly, RO::Get, number(0), {}, {}, "HttpLayer::parsedHeaders"},
    {26,
     "ParsedHeaderField",
     stringType,
     PA::ReadOnly,
     RO::Get,
     noDefault,
     {},
     headerIndex,
     "HttpLayer::parsedHeaders"},
    {27,
     "ParsedHeaderValue",
     stringType,
     PA::ReadOnly,
     RO::Get,
     noDefault,
     {},
     headerIndex,
     "HttpLayer::parsedHeaders"},
    {28, "Password", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "HttpLayer::password"},
    {29,
     "ProxyAuthScheme",
     enumType(EK::AuthSchemes),
     PA::ReadWrite,
     RO::No,
     number(0),
     255,
     {},
     "SocketEngine::proxyAuthScheme"},
    {30, "ProxyAutoDetect", booleanType, PA::ReadWrite, RO::No, isFalse, {}, {}, "SocketEngine::proxyAutoDetect"},
    {31, "ProxyPassword", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::proxyPassword"},
    {32, "ProxyPort", longType, PA::ReadWrite, RO::No, number(80), {}, {}, "SocketEngine::proxyPort"},
    {33, "ProxyServer", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::proxyServer"},
    {34, "ProxySSL", enumType(EK::ProxySSLTypes), PA::ReadWrite, RO::No, number(0), 3, {}, "SocketEngine::proxySsl"},
    {35, "ProxyUser", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::proxyUser"},
    {36,
     "SSLAcceptServerCertEncoded",
     stringType,
     PA::ReadWrite,
     RO::Get,
     empty,
     {},
     {},
     "SocketEngine::sslAcceptServerCertEncoded"},
    {37, "SSLCertEncoded", stringType, PA::ReadWrite, RO::Get, empty, {}, {}, "SocketEngine::sslCertEncoded"},
    {38, "SSLCertStore", stringType, PA::ReadWrite, RO::No, text("MY"), {}, {}, "SocketEngine::sslCertStore"},
    {39,
     "SSLCertStorePassword",
     stringType,
     PA::ReadWrite,
     RO::No,
     empty,
     {},
     {},
     "SocketEngine::sslCertStorePassword"},
    {40,
     "SSLCertStoreType",
     enumType(EK::CertStoreTypes),
     PA::ReadWrite,
     RO::No,
     number(0),
     17,
     {},
     "SocketEngine::sslCertStoreType"},
    {41, "SSLCertSubject", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "SocketEngine::sslCertSubject"},
    {42,
     "SSLServerCertEncoded",
     stringType,
     PA::ReadOnly,
     RO::Get,
     empty,
     {},
     {},
     "SocketEngine::sslServerCertEncoded"},
    {43, "SubProtocols", stringType, PA::ReadWrite, RO::Get, empty, {}, {}, "HttpLayer::subProtocols"},
    {44, "Timeout", integerType, PA::ReadWrite, RO::No, number(60), {}, {}, "SocketEngine::timeout"},
    {45, "TransferredHeaders", stringType, PA::ReadOnly, RO::Get, empty, {}, {}, "HttpLayer::transferredHeaders"},
    {46, "User", stringType, PA::ReadWrite, RO::No, empty, {}, {}, "HttpLayer::user"},
    {47, "DataToSendB", byteArrayType, PA::WriteOnly, RO::Get, noDefault, {}, {}, "WebSocketLayer::send"},
    {48,
     "SSLAcceptServerCertEncodedB",
     byteArrayType,
     PA::ReadWrite,
     RO::Get,
     noDefault,
     {},
     {},
     "SocketEngine::sslAcceptServerCertEncoded"},
    {49, "SSLCertEncodedB", byteArrayType, PA::ReadWrite, RO::Get, noDefault, {}, {}, "SocketEngine::sslCertEncoded"},
    {50, "SSLCertStoreB", byteArrayType, PA::ReadWrite, RO::Get, noDefault, {}, {}, "SocketEngine::sslCertStore"},
    {51,
     "SSLServerCertEncodedB",
     byteArrayType,
     PA::ReadOnly,
     RO::Get,
     noDefault,
     {},
     {},
     "SocketEngine::sslServerCertEncoded"},
    // The two event-data slots belong to the control, not to the engine.
    {52, "DataInTextB", byteArrayType, PA::ReadOnly, RO::GetAndPut, noDefault, {}, {}, "DataIn event slot"},
    {53,
     "SSLServerAuthenticationCertEncodedB",
     byteArrayType,
     PA::ReadOnly,
     RO::GetAndPut,
     noDefault,
     {},
     {},
     "SSLServerAuthentication event slot"},
};

constexpr ParameterDescription addCookieParameters[] = {{"CookieName", stringType}, {"CookieValue", stringType}};
constexpr ParameterDescription configParameters[] = {{"ConfigurationString", stringType}};
constexpr ParameterDescription connectParameters[] = {{"URL", stringType}};
constexpr ParameterDescription sendParameters[] = {{"Data", stringType}};
constexpr ParameterDescription sendFileParameters[] = {{"FileName", stringType}};
constexpr ParameterDescription sendTextParameters[] = {{"Text", stringType}};
constexpr ParameterDescription onStartPageParameters[] = {{"piUnk", unknownType}};

constexpr MethodDescription methodTable[] = {
    {aboutBoxDispid, "AboutBox", {}, {}},
    {502, "AddCookie", addCookieParameters, {}},
    {503, "Config", configParameters, stringType},
    {504, "Connect", connectParameters, {}},
    {505, "Disconnect", {}, {}},
    {506, "DoEvents", {}, {}},
    {507, "Interrupt", {}, {}},
    {508, "ResetHeaders", {}, {}},
    {509, "Send", sendParameters, {}},
    {510, "SendFile", sendFileParameters, {}},
    {511, "SendText", sendTextParameters, {}},
};

constexpr MethodDescription pageHostingTable[] = {
    {0x60020077, "OnStartPage", onStartPageParameters, {}},
    {0x60020078, "OnEndPage", {}, {}},
};

constexpr ParameterDescription connectedParameters[] = {{"StatusCode", integerType}, {"Description", stringType}};
constexpr ParameterDescription connectionStatusParameters[] = {
    {"ConnectionEvent", stringType}, {"StatusCode", integerType}, {"Description", stringType}};
constexpr ParameterDescription dataInParameters[] = {
    {"DataFormat", integerType}, {"Text", stringType}, {"EOM", booleanType}};
constexpr ParameterDescription disconnectedParameters[] = {{"StatusCode", integerType}, {"Description", stringType}};
constexpr ParameterDescription errorParameters[] = {{"ErrorCode", integerType}, {"Description", stringType}};
constexpr ParameterDescription headerParameters[] = {{"Field", stringType}, {"Value", stringType}};
constexpr ParameterDescription redirectParameters[] = {{"Location", stringType}, {"Accept", booleanType, true}};
constexpr ParameterDescription setCookieParameters[] = {{"Name", stringType},    {"Value", stringType},
                                                        {"Expires", stringType}, {"Domain", stringType},
                                                        {"Path", stringType},    {"Secure", booleanType}};
constexpr ParameterDescription sslServerAuthenticationParameters[] = {{"CertEncoded", stringType},
                                                                      {"CertSubject", stringType},
                                                                      {"CertIssuer", stringType},
                                                                      {"Status", stringType},
                                                                      {"Accept", booleanType, true}};
constexpr ParameterDescription sslStatusParameters[] = {{"Message", stringType}};

constexpr EventDescription eventTable[] = {
    {1, "Connected", connectedParameters},
    {2, "ConnectionStatus", connectionStatusParameters},
    {3, "DataIn", dataInParameters},
    {4, "Disconnected", disconnectedParameters},
    {5, "Error", errorParameters},
    {6, "Header", headerParameters},
    {7, "ReadyToSend", {}},
    {8, "Redirect", redirectParameters},
    {9, "SetCookie", setCookieParameters},
    {10, "SSLServerAuthentication", sslServerAuthenticationParameters},
    {11, "SSLStatus", sslStatusParameters},
};

constexpr EnumerationMember authSchemes[] = {
    {"authBasic", 0}, {"authDigest", 1},    {"authProprietary", 2}, {"authNone", 3},
    {"authNtlm", 4},  {"authNegotiate", 5}, {"authOAuth", 6},
};
constexpr EnumerationMember dataFormats[] = {{"dfAutomatic", 0}, {"dfText", 1}, {"dfBinary", 2}, {"dfPing", 9}};
constexpr EnumerationMember firewallTypes[] = {{"fwNone", 0}, {"fwTunnel", 1}, {"fwSOCKS4", 2}, {"fwSOCKS5", 3}};
constexpr EnumerationMember followRedirects[] = {{"frNever", 0}, {"frAlways", 1}, {"frSameScheme", 2}};
constexpr EnumerationMember proxySslTypes[] = {{"psAutomatic", 0}, {"psAlways", 1}, {"psNever", 2}, {"psTunnel", 3}};
constexpr EnumerationMember certStoreTypes[] = {
    {"cstUser", 0},          {"cstMachine", 1},           {"cstPFXFile", 2},           {"cstPFXBlob", 3},
    {"cstJKSFile", 4},       {"cstJKSBlob", 5},           {"cstPEMKeyFile", 6},        {"cstPEMKeyBlob", 7},
    {"cstPublicKeyFile", 8}, {"cstPublicKeyBlob", 9},     {"cstSSHPublicKeyBlob", 10}, {"cstP7BFile", 11},
    {"cstP7BBlob", 12},      {"cstSSHPublicKeyFile", 13}, {"cstPPKFile", 14},          {"cstPPKBlob", 15},
    {"cstXMLFile", 16},      {"cstXMLBlob", 17},
};

// In the order of EnumerationKind.
constexpr EnumerationDescription enumerationTable[] = {
    {EK::AuthSchemes, "AuthSchemes", authSchemes},       {EK::DataFormats, "DataFormats", dataFormats},
    {EK::FirewallTypes, "FirewallTypes", firewallTypes}, {EK::TFollowRedirects, "TFollowRedirects", followRedirects},
    {EK::ProxySSLTypes, "ProxySSLTypes", proxySslTypes}, {EK::CertStoreTypes, "CertStoreTypes", certStoreTypes},
};

template <class Table, class Match>
auto findIn(const Table& table, Match match) -> decltype(&table[0]) {
    for (const auto& entry : table) {
        if (match(entry)) return &entry;
    }
    return nullptr;
}

}  // namespace

std::span<const PropertyDescription> properties() { return propertyTable; }
std::span<const MethodDescription> methods() { return methodTable; }
std::span<const MethodDescription> pageHostingMethods() { return pageHostingTable; }
std::span<const EventDescription> events() { return eventTable; }
std::span<const EnumerationDescription> enumerations() { return enumerationTable; }

const PropertyDescription* findProperty(std::string_view name) {
    return findIn(propertyTable, [name](const auto& p) { return equalsNoCase(p.name, name); });
}

const PropertyDescription* findProperty(std::int32_t dispid) {
    // Every get and put asks; the properties' DISPIDs are small numbers.
    static const auto byDispid = [] {
        std::array<const PropertyDescription*, 128> index{};
        for (const auto& p : propertyTable) {
            if (p.dispid >= 0 && static_cast<std::size_t>(p.dispid) < index.size() && index[p.dispid] == nullptr) {
                index[p.dispid] = &p;
            }
        }
        return index;
    }();
    if (dispid >= 0 && static_cast<std::size_t>(dispid) < byDispid.size()) return byDispid[dispid];
    return findIn(propertyTable, [dispid](const auto& p) { return p.dispid == dispid; });
}

const MethodDescription* findMethod(std::string_view name) {
    return findIn(methodTable, [name](const auto& m) { return equalsNoCase(m.name, name); });
}

const EventDescription* findEvent(std::int32_t dispid) {
    return findIn(eventTable, [dispid](const auto& e) { return e.dispid == dispid; });
}

const EnumerationDescription& enumeration(EnumerationKind kind) {
    return enumerationTable[static_cast<std::size_t>(kind)];
}

bool inRange(const PropertyDescription& property, std::int64_t value) {
    return !property.maximum || value <= *property.maximum;
}

}  // namespace morvane
