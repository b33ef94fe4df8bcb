#include "control/websocket/http_layer.h"

#include <gtest/gtest.h>

namespace morvane {
namespace {

class HttpLayerProbe : public HttpLayer {
public:
    void startTransaction() { action_ = Action::Get; }
    void openSocket() { socketHandle_ = 3; }
    void receive(std::string statusLine, std::string field, std::string value) {
        statusLine_ = std::move(statusLine);
        transferredHeaders_ = field + ": " + value + "\r\n";
        parsedHeaders_.push_back({std::move(field), std::move(value)});
        transferredData_ = "body";
    }
};

std::string read(HttpLayer& layer, std::string_view name) {
    std::string value;
    EXPECT_EQ(layer.config(name, value), 0) << name;
    return value;
}

void write(HttpLayer& layer, std::string_view text) {
    std::string result;
    EXPECT_EQ(layer.config(text, result), 0) << text;
}

TEST(HttpLayerTest, ResetHeadersClearsTheCallersFieldsAndTheResponse) {
    HttpLayerProbe layer;
    for (std::string_view text : {"Authorization=Bearer x", "ProxyAuthorization=Basic y", "OtherHeaders=X-A: 1",
                                  "HttpCookies=a=1", "UserAgent=Probe", "AcceptEncoding=br",
                                  "IfModifiedSince=yesterday", "GetOn302Redirect=True", "HTTPVersion=1.0",
                                  "KeepAlive=True"}) {
        write(layer, text);
    }
    layer.addCookie("session", "42");
    layer.receive("HTTP/1.1 101 Switching Protocols", "Upgrade", "websocket");
    ASSERT_EQ(layer.setRemotePort(8080), 0);

    EXPECT_EQ(layer.resetHeaders(), 0);

    const std::pair<std::string_view, std::string_view> expected[] = {
        {"Authorization", ""},        {"ProxyAuthorization", ""},       {"OtherHeaders", ""},
        {"HttpCookies", ""},          {"UserAgent", "QuillonWS Morvane 1.0"},
        {"AcceptEncoding", "gzip, deflate"}, {"IfModifiedSince", ""}, {"GetOn302Redirect", "False"},
        {"TransferredHeaders", ""},
        // The protocol switches are settings, not header fields.
        {"HTTPVersion", "1.0"},       {"KeepAlive", "True"},
    };
    for (const auto& [name, value] : expected) EXPECT_EQ(read(layer, name), value) << name;
    EXPECT_TRUE(layer.cookies().empty());
    EXPECT_TRUE(layer.parsedHeaders().empty());
    EXPECT_EQ(layer.statusLine(), "");
    EXPECT_EQ(layer.remotePort(), 80);
}

TEST(HttpLayerTest, ResetHeadersIsRefusedDuringATransaction) {
    HttpLayerProbe layer;
    write(layer, "OtherHeaders=X-A: 1");
    layer.startTransaction();
    EXPECT_EQ(layer.resetHeaders(), 143);
    EXPECT_EQ(layer.lastErrorText(), "Busy performing current action.");
    EXPECT_EQ(read(layer, "OtherHeaders"), "X-A: 1");
}

TEST(HttpLayerTest, ResetHeadersLeavesTheRemotePortOfALiveSocket) {
    HttpLayerProbe layer;
    ASSERT_EQ(layer.setRemotePort(8443), 0);
    layer.openSocket();
    EXPECT_EQ(layer.resetHeaders(), 0);
    EXPECT_EQ(layer.remotePort(), 8443);
}

TEST(HttpLayerTest, CookieListGrowsWithEmptyRecordsAndShrinksFromTheEnd) {
    HttpLayer layer;
    layer.addCookie("a", "1");
    layer.addCookie("b", "2");
    layer.setCookieCount(4);
    ASSERT_EQ(layer.cookies().size(), 4u);
    EXPECT_TRUE(layer.cookies()[1].addedByCaller);
    EXPECT_EQ(layer.cookies()[3].name, "");
    EXPECT_FALSE(layer.cookies()[3].addedByCaller);

    layer.setCookieName(3, "c");
    layer.setCookieValue(3, "3");
    layer.setCookieName(4, "beyond");  // outside the list: nothing happens
    layer.setCookieCount(1);
    ASSERT_EQ(layer.cookies().size(), 1u);
    EXPECT_EQ(layer.cookies()[0].name, "a");

    layer.setCookieCount(-3);
    EXPECT_TRUE(layer.cookies().empty());
}

TEST(HttpLayerTest, KerberosTokenBecomesANegotiateAuthorization) {
    HttpLayer layer;
    write(layer, "KerberosToken=YIIGhgYJKoZI");
    EXPECT_EQ(layer.authScheme(), 2);
    EXPECT_EQ(read(layer, "Authorization"), "Negotiate YIIGhgYJKoZI");

    std::string result;
    EXPECT_EQ(layer.config("KerberosToken", result), -1);
}

TEST(HttpLayerTest, ProxySettingsAreTheTransportsOwn) {
    HttpLayer layer;
    write(layer, "ProxyServer=proxy.example");
    write(layer, "ProxyPort=0xC38");
    write(layer, "ProxyAuthScheme=4");
    EXPECT_EQ(layer.proxyServer(), "proxy.example");
    EXPECT_EQ(layer.proxyPort(), 3128);
    EXPECT_EQ(layer.proxyAuthScheme(), 4);
}

}  // namespace
}  // namespace morvane
