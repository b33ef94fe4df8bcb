#include "control/com/property_binding.h"

#include "control/engine/morvane_engine.h"
#include "control/include/morvane.h"

namespace morvane {
namespace {

constexpr int notBound = -1;

}  // namespace

std::size_t indexedCount(const MorvaneEngine& engine, std::int32_t dispid) {
    switch (dispid) {
        case DISPID_MORVANE_COOKIEDOMAIN:
        case DISPID_MORVANE_COOKIEEXPIRATION:
        case DISPID_MORVANE_COOKIENAME:
        case DISPID_MORVANE_COOKIEPATH:
        case DISPID_MORVANE_COOKIESECURE:
        case DISPID_MORVANE_COOKIEVALUE: return engine.http().cookies().size();
        case DISPID_MORVANE_PARSEDHEADERFIELD:
        case DISPID_MORVANE_PARSEDHEADERVALUE: return engine.http().parsedHeaders().size();
        default: return 0;
    }
}

int readProperty(MorvaneEngine& e, std::int32_t dispid, std::size_t index, PropertyValue& v) {
    switch (dispid) {
        case DISPID_MORVANE_ACCEPTDATA: v.boolean = e.http().acceptData(); return 0;
        case DISPID_MORVANE_AUTHORIZATION: v.text = e.http().authorization(); return 0;
        case DISPID_MORVANE_AUTHSCHEME: v.number = e.http().authScheme(); return 0;
        case DISPID_MORVANE_BYTESSENT: v.number = e.webSocket().bytesSent(); return 0;
        case DISPID_MORVANE_CONNECTED: v.boolean = e.webSocket().connected(); return 0;
        case DISPID_MORVANE_COOKIECOUNT: v.number = static_cast<std::int32_t>(e.http().cookies().size()); return 0;
        case DISPID_MORVANE_COOKIEDOMAIN: v.text = e.http().cookies()[index].domain; return 0;
        case DISPID_MORVANE_COOKIEEXPIRATION: v.text = e.http().cookies()[index].expiration; return 0;
        case DISPID_MORVANE_COOKIENAME: v.text = e.http().cookies()[index].name; return 0;
        case DISPID_MORVANE_COOKIEPATH: v.text = e.http().cookies()[index].path; return 0;
        case DISPID_MORVANE_COOKIESECURE: v.boolean = e.http().cookies()[index].secure; return 0;
        case DISPID_MORVANE_COOKIEVALUE: v.text = e.http().cookies()[index].value; return 0;
        case DISPID_MORVANE_DATAFORMAT: v.number = e.webSocket().dataFormat(); return 0;
        case DISPID_MORVANE_FIREWALLAUTODETECT: v.boolean = e.proxy().firewallAutoDetect; return 0;
        case DISPID_MORVANE_FIREWALLTYPE: v.number = e.proxy().firewallType; return 0;
        case DISPID_MORVANE_FIREWALLHOST: v.text = e.proxy().firewallHost; return 0;
        case DISPID_MORVANE_FIREWALLPASSWORD: v.text = e.proxy().firewallPassword; return 0;
        case DISPID_MORVANE_FIREWALLPORT: v.number = e.proxy().firewallPort; return 0;
        case DISPID_MORVANE_FIREWALLUSER: v.text = e.proxy().firewallUser; return 0;
        case DISPID_MORVANE_FOLLOWREDIRECTS: v.number = e.http().followRedirects(); return 0;
        case DISPID_MORVANE_LOCALHOST: v.text = e.socket().localHost(); return 0;
        case DISPID_MORVANE_ORIGIN: v.text = e.http().origin(); return 0;
        case DISPID_MORVANE_OTHERHEADERS: v.text = e.http().otherHeaders(); return 0;
        case DISPID_MORVANE_PARSEDHEADERCOUNT:
            v.number = static_cast<std::int32_t>(e.http().parsedHeaders().size());
            return 0;
        case DISPID_MORVANE_PARSEDHEADERFIELD: v.text = e.http().parsedHeaders()[index].field; return 0;
        case DISPID_MORVANE_PARSEDHEADERVALUE: v.text = e.http().parsedHeaders()[index].value; return 0;
        case DISPID_MORVANE_PASSWORD: v.text = e.http().password(); return 0;
        case DISPID_MORVANE_PROXYAUTHSCHEME: v.number = e.proxy().proxyAuthScheme; return 0;
        case DISPID_MORVANE_PROXYAUTODETECT: v.boolean = e.proxy().proxyAutoDetect; return 0;
        case DISPID_MORVANE_PROXYPASSWORD: v.text = e.proxy().proxyPassword; return 0;
        case DISPID_MORVANE_PROXYPORT: v.number = e.proxy().proxyPort; return 0;
        case DISPID_MORVANE_PROXYSERVER: v.text = e.proxy().proxyServer; return 0;
        case DISPID_MORVANE_PROXYSSL: v.number = e.proxy().proxySsl; return 0;
        case DISPID_MORVANE_PROXYUSER: v.text = e.proxy().proxyUser; return 0;
        case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED:
        case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB: v.text = e.tls().sslAcceptServerCertEncoded; return 0;
        case DISPID_MORVANE_SSLCERTENCODED:
        case DISPID_MORVANE_SSLCERTENCODEDB: v.text = e.tls().sslCertEncoded; return 0;
        case DISPID_MORVANE_SSLCERTSTORE:
        case DISPID_MORVANE_SSLCERTSTOREB: v.text = e.tls().sslCertStore; return 0;
        case DISPID_MORVANE_SSLCERTSTOREPASSWORD: v.text = e.tls().sslCertStorePassword; return 0;
        case DISPID_MORVANE_SSLCERTSTORETYPE: v.number = e.tls().sslCertStoreType; return 0;
        case DISPID_MORVANE_SSLCERTSUBJECT: v.text = e.tls().sslCertSubject; return 0;
        case DISPID_MORVANE_SSLSERVERCERTENCODED:
        case DISPID_MORVANE_SSLSERVERCERTENCODEDB: v.text = e.tls().sslServerCertEncoded; return 0;
        case DISPID_MORVANE_SUBPROTOCOLS: v.text = e.http().subProtocols(); return 0;
        case DISPID_MORVANE_TIMEOUT: v.number = e.waiter().timeout(); return 0;
        case DISPID_MORVANE_TRANSFERREDHEADERS: v.text = e.http().transferredHeaders(); return 0;
        case DISPID_MORVANE_USER: v.text = e.http().user(); return 0;
        default: return notBound;
    }
}

int writeProperty(MorvaneEngine& e, std::int32_t dispid, std::size_t index, const PropertyValue& v) {
    switch (dispid) {
        case DISPID_MORVANE_ACCEPTDATA: e.http().setAcceptData(v.boolean); return 0;
        case DISPID_MORVANE_AUTHORIZATION: e.http().setAuthorization(v.text); return 0;
        case DISPID_MORVANE_AUTHSCHEME: e.http().setAuthScheme(v.number); return 0;
        case DISPID_MORVANE_CONNECTED: return e.webSocket().setConnected(v.boolean);
        case DISPID_MORVANE_COOKIECOUNT: e.http().setCookieCount(v.number); return 0;
        case DISPID_MORVANE_COOKIENAME: e.http().setCookieName(index, v.text); return 0;
        case DISPID_MORVANE_COOKIEVALUE: e.http().setCookieValue(index, v.text); return 0;
        case DISPID_MORVANE_DATAFORMAT: e.webSocket().setDataFormat(v.number); return 0;
        case DISPID_MORVANE_FIREWALLAUTODETECT: e.proxy().setFirewallAutoDetect(v.boolean); return 0;
        case DISPID_MORVANE_FIREWALLTYPE: e.proxy().setFirewallType(v.number); return 0;
        case DISPID_MORVANE_FIREWALLHOST: e.proxy().firewallHost = v.text; return 0;
        case DISPID_MORVANE_FIREWALLPASSWORD: e.proxy().firewallPassword = v.text; return 0;
        case DISPID_MORVANE_FIREWALLPORT: e.proxy().firewallPort = v.number; return 0;
        case DISPID_MORVANE_FIREWALLUSER: e.proxy().firewallUser = v.text; return 0;
        case DISPID_MORVANE_FOLLOWREDIRECTS: e.http().setFollowRedirects(v.number); return 0;
        case DISPID_MORVANE_LOCALHOST: e.socket().setLocalHost(v.text); return 0;
        case DISPID_MORVANE_ORIGIN: e.http().setOrigin(v.text); return 0;
        case DISPID_MORVANE_OTHERHEADERS: e.http().setOtherHeaders(v.text); return 0;
        case DISPID_MORVANE_PASSWORD: e.http().setPassword(v.text); return 0;
        case DISPID_MORVANE_PROXYAUTHSCHEME: e.proxy().proxyAuthScheme = v.number; return 0;
        case DISPID_MORVANE_PROXYAUTODETECT: e.proxy().setProxyAutoDetect(v.boolean); return 0;
        case DISPID_MORVANE_PROXYPASSWORD: e.proxy().proxyPassword = v.text; return 0;
        case DISPID_MORVANE_PROXYPORT: e.proxy().proxyPort = v.number; return 0;
        case DISPID_MORVANE_PROXYSERVER: e.proxy().proxyServer = v.text; return 0;
        case DISPID_MORVANE_PROXYSSL: e.proxy().proxySsl = v.number; return 0;
        case DISPID_MORVANE_PROXYUSER: e.proxy().proxyUser = v.text; return 0;
        case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED:
        case DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB: e.tls().sslAcceptServerCertEncoded = v.text; return 0;
        case DISPID_MORVANE_SSLCERTENCODED:
        case DISPID_MORVANE_SSLCERTENCODEDB: return e.secureChannel().setCertEncoded(v.text);
        case DISPID_MORVANE_SSLCERTSTORE:
        case DISPID_MORVANE_SSLCERTSTOREB: e.tls().sslCertStore = v.text; return 0;
        case DISPID_MORVANE_SSLCERTSTOREPASSWORD: e.tls().sslCertStorePassword = v.text; return 0;
        case DISPID_MORVANE_SSLCERTSTORETYPE: e.tls().sslCertStoreType = v.number; return 0;
        case DISPID_MORVANE_SSLCERTSUBJECT: return e.secureChannel().setCertSubject(v.text);
        case DISPID_MORVANE_SUBPROTOCOLS: e.http().setSubProtocols(v.text); return 0;
        case DISPID_MORVANE_TIMEOUT: e.waiter().setTimeout(v.number); return 0;
        case DISPID_MORVANE_USER: e.http().setUser(v.text); return 0;
        default: return notBound;
    }
}

}  // namespace morvane
