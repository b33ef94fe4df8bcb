#include "control/com/property_binding.h"

#include <span>

#include "control/include/morvane.h"
#include "control/websocket/websocket_layer.h"

namespace morvane {
namespace {

constexpr int notBound = -1;

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::size_t indexedCount(const WebSocketLayer& engine, std::int32_t dispid) {
    switch (dispid) {
    case DISPID_MORVANE_COOKIEDOMAIN:
    case DISPID_MORVANE_COOKIEEXPIRATION:
    case DISPID_MORVANE_COOKIENAME:
    case DISPID_MORVANE_COOKIEPATH:
    case DISPID_MORVANE_COOKIESECURE:
    case DISPID_MORVANE_COOKIEVALUE: return engine.cookies().size();
    case DISPID_MORVANE_PARSEDHEADERFIELD:
    case DISPID_MORVANE_PARSEDHEADERVALUE: return engine.parsedHeaders().size();
    default: return 0;
    }
}

int readProperty(WebSocketLayer& e, std::int32_t dispid, std::size_t index, PropertyValue& v) {
    switch (dispid) {
    case DISPID_MORVANE_ACCEPTDATA: v.boolean = e.acceptData(); return 0;
    case DISPID_MORVANE_AUTHORIZATION: v.text = e.authorization(); return 0;
    case DISPID_MORVANE_AUTHSCHEME: v.number = e.authScheme(); return 0;
    case DISPID_MORVANE_BYTESSENT: v.number = e.bytesSent(); return 0;
    case DISPID_MORVANE_CONNECTED: v.boolean = e.connected(); return 0;
    case DISPID_MORVANE_COOKIECOUNT: v.number = static_cast<std::int32_t>(e.cookies().size()); return 0;
    case DISPID_MORVANE_COOKIEDOMAIN: v.text = e.cookies()[index].domain; return 0;
    case DISPID_MORVANE_COOKIEEXPIRATION: v.text = e.cookies()[index].expiration; return 0;
    case DISPID_MORVANE_COOKIENAME: v.text = e.cookies()[index].name; return 0;
    case DISPID_MORVANE_COOKIEPATH: v.text = e.cookies()[index].path; return 0;
    case DISPID_MORVANE_COOKIESECURE: v.boolean = e.cookies()[index].secure; return 0;
    case DISPID_MORVANE_COOKIEVALUE: v.text = e.cookies()[index].value; return 0;
    case DISPID_MORVANE_DATAFORMAT: v.number = e.dataFormat(); return 0;
    case DISPID_MORVANE_FIREWALLAUTODETECT: v.boolean = e.firewallAutoDetect(); return 0;
    case DISPID_MORVANE_FIREWALLTYPE: v.number = e.firewallType(); return 0;
    case DISPID_MORVANE_FIREWALLHOST: v.text = e.firewallHost(); return 0;
    case DISPID_MORVANE_FIREWALLPASSWORD: v.text = e.firewallPassword(); return 0;
    case DISPID_MORVANE_FIREWALLPORT: v.number = e.firewallPort(); return 0;
    case DISPID_MORVANE_FIREWALLUSER: v.text = e.firewallUser(); return 0;
    case DISPID_MORVANE_FOLLOWREDIRECTS: v.number = e.followRedirects(); return 0;
    case DISPID_MORVANE_LOCALHOST: v.text = e.localHost(); return 0;
    case DISPID_MORVANE_ORIGIN: v.text = e.origin(); return 0;
    case DISPID_MORVANE_OTHERHEADERS: v.text = e.otherHeaders(); return 0;
    case DISPID_MORVANE_PARSEDHEADERCOUNT: v.number = static_cast<std::int32_t>(e.parsedHeaders().size()); return 0;
    case DISPID_MORVANE_PARSEDHEADERFIELD: v.text = e.parsedHeaders()[index].field; return 0;
    case DISPID_MORVANE_PARSEDHEADERVALUE: v.text = e.parsedHeaders()[index].value; return 0;
    case DISPID_MORVANE_PASSWORD: v.text = e.password(); return 0;
    case DISPID_MORVANE_PROXYAUTHSCHEME: v.number = e.proxyAuthScheme(); return 0;
    case DISPID_MORVANE_PROXYAUTODETECT: v.boolean = e.proxyAutoDetect(); return 0;
    case DISPID_MORVANE_PROXYPASSWORD: v.text = e.proxyPassword(); return 0;
    case DISPID_MORVANE_PROXYPORT: v.number = e.proxyPort(); return 0;
    case DISPID_MORVANE_PROXYSERVER: v.text = e.proxyServer(); return 0;
    case DISPID_MORVANE_PROXYSSL: v.number = e.proxySsl(); return 0;
    case DISPID_MORVANE_PROXYUSER: v.text = e.proxyUser(); return 0;
    case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED:
    case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB: v.text = e.sslAcceptServerCertEncoded(); return 0;
    case DISPID_MORVANE_SSLCERTENCODED:
    case DISPID_MORVANE_SSLCERTENCODEDB: v.text = e.sslCertEncoded(); return 0;
    case DISPID_MORVANE_SSLCERTSTORE:
    case DISPID_MORVANE_SSLCERTSTOREB: v.text = e.sslCertStore(); return 0;
    case DISPID_MORVANE_SSLCERTSTOREPASSWORD: v.text = e.sslCertStorePassword(); return 0;
    case DISPID_MORVANE_SSLCERTSTORETYPE: v.number = e.sslCertStoreType(); return 0;
    case DISPID_MORVANE_SSLCERTSUBJECT: v.text = e.sslCertSubject(); return 0;
    case DISPID_MORVANE_SSLSERVERCERTENCODED:
    case DISPID_MORVANE_SSLSERVERCERTENCODEDB: v.text = e.sslServerCertEncoded(); return 0;
    case DISPID_MORVANE_SUBPROTOCOLS: v.text = e.subProtocols(); return 0;
    case DISPID_MORVANE_TIMEOUT: v.number = e.timeout(); return 0;
    case DISPID_MORVANE_TRANSFERREDHEADERS: v.text = e.transferredHeaders(); return 0;
    case DISPID_MORVANE_USER: v.text = e.user(); return 0;
    default: return notBound;
    }
}

int writeProperty(WebSocketLayer& e, std::int32_t dispid, std::size_t index, const PropertyValue& v) {
    switch (dispid) {
    case DISPID_MORVANE_ACCEPTDATA: e.setAcceptData(v.boolean); return 0;
    case DISPID_MORVANE_AUTHORIZATION: e.setAuthorization(v.text); return 0;
    case DISPID_MORVANE_AUTHSCHEME: e.setAuthScheme(v.number); return 0;
    case DISPID_MORVANE_CONNECTED: return e.setConnected(v.boolean);
    case DISPID_MORVANE_COOKIECOUNT: e.setCookieCount(v.number); return 0;
    case DISPID_MORVANE_COOKIENAME: e.setCookieName(index, v.text); return 0;
    case DISPID_MORVANE_COOKIEVALUE: e.setCookieValue(index, v.text); return 0;
    case DISPID_MORVANE_DATAFORMAT: e.setDataFormat(v.number); return 0;
    case DISPID_MORVANE_DATATOSEND:
    case DISPID_MORVANE_DATATOSENDB: return e.send(bytesOf(v.text));
    case DISPID_MORVANE_FIREWALLAUTODETECT: e.setFirewallAutoDetect(v.boolean); return 0;
    case DISPID_MORVANE_FIREWALLTYPE: e.setFirewallType(v.number); return 0;
    case DISPID_MORVANE_FIREWALLHOST: e.setFirewallHost(v.text); return 0;
    case DISPID_MORVANE_FIREWALLPASSWORD: e.setFirewallPassword(v.text); return 0;
    case DISPID_MORVANE_FIREWALLPORT: e.setFirewallPort(v.number); return 0;
    case DISPID_MORVANE_FIREWALLUSER: e.setFirewallUser(v.text); return 0;
    case DISPID_MORVANE_FOLLOWREDIRECTS: e.setFollowRedirects(v.number); return 0;
    case DISPID_MORVANE_LOCALHOST: e.setLocalHost(v.text); return 0;
    case DISPID_MORVANE_ORIGIN: e.setOrigin(v.text); return 0;
    case DISPID_MORVANE_OTHERHEADERS: e.setOtherHeaders(v.text); return 0;
    case DISPID_MORVANE_PASSWORD: e.setPassword(v.text); return 0;
    case DISPID_MORVANE_PROXYAUTHSCHEME: e.setProxyAuthScheme(v.number); return 0;
    case DISPID_MORVANE_PROXYAUTODETECT: e.setProxyAutoDetect(v.boolean); return 0;
    case DISPID_MORVANE_PROXYPASSWORD: e.setProxyPassword(v.text); return 0;
    case DISPID_MORVANE_PROXYPORT: e.setProxyPort(v.number); return 0;
    case DISPID_MORVANE_PROXYSERVER: e.setProxyServer(v.text); return 0;
    case DISPID_MORVANE_PROXYSSL: e.setProxySsl(v.number); return 0;
    case DISPID_MORVANE_PROXYUSER: e.setProxyUser(v.text); return 0;
    case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED:
    case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB: e.setSslAcceptServerCertEncoded(v.text); return 0;
    case DISPID_MORVANE_SSLCERTENCODED:
    case DISPID_MORVANE_SSLCERTENCODEDB: e.setSslCertEncoded(v.text); return 0;
    case DISPID_MORVANE_SSLCERTSTORE:
    case DISPID_MORVANE_SSLCERTSTOREB: e.setSslCertStore(v.text); return 0;
    case DISPID_MORVANE_SSLCERTSTOREPASSWORD: e.setSslCertStorePassword(v.text); return 0;
    case DISPID_MORVANE_SSLCERTSTORETYPE: e.setSslCertStoreType(v.number); return 0;
    case DISPID_MORVANE_SSLCERTSUBJECT: e.setSslCertSubject(v.text); return 0;
    case DISPID_MORVANE_SUBPROTOCOLS: e.setSubProtocols(v.text); return 0;
    case DISPID_MORVANE_TIMEOUT: e.setTimeout(v.number); return 0;
    case DISPID_MORVANE_USER: e.setUser(v.text); return 0;
    default: return notBound;
    }
}

}  // namespace morvane
