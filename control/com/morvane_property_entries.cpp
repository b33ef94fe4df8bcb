// The typed vtable entries of IMorvane's properties, each handing over to
// the property's get or put path with its DISPID.
#include "control/com/morvane_control.h"

namespace morvane {

// clang-format off
HRESULT Morvane::get_AcceptData(VARIANT_BOOL* value) { return getBoolean(DISPID_MORVANE_ACCEPTDATA, std::nullopt, value); }
HRESULT Morvane::put_AcceptData(VARIANT_BOOL value) { return putBoolean(DISPID_MORVANE_ACCEPTDATA, std::nullopt, value); }
HRESULT Morvane::get_Authorization(BSTR* value) { return getString(DISPID_MORVANE_AUTHORIZATION, std::nullopt, value); }
HRESULT Morvane::put_Authorization(BSTR value) { return putString(DISPID_MORVANE_AUTHORIZATION, std::nullopt, value); }
HRESULT Morvane::get_AuthScheme(AuthSchemes* value) { return getEnumeration(DISPID_MORVANE_AUTHSCHEME, value); }
HRESULT Morvane::put_AuthScheme(AuthSchemes value) { return putLong(DISPID_MORVANE_AUTHSCHEME, value); }
HRESULT Morvane::get_BytesSent(LONG* value) { return getLong(DISPID_MORVANE_BYTESSENT, value); }
HRESULT Morvane::put_BytesSent(LONG value) { return putLong(DISPID_MORVANE_BYTESSENT, value); }
HRESULT Morvane::get_Connected(VARIANT_BOOL* value) { return getBoolean(DISPID_MORVANE_CONNECTED, std::nullopt, value); }
HRESULT Morvane::put_Connected(VARIANT_BOOL value) { return putBoolean(DISPID_MORVANE_CONNECTED, std::nullopt, value); }
HRESULT Morvane::get_CookieCount(SHORT* value) { return getInteger(DISPID_MORVANE_COOKIECOUNT, value); }
HRESULT Morvane::put_CookieCount(SHORT value) { return putInteger(DISPID_MORVANE_COOKIECOUNT, value); }
HRESULT Morvane::get_CookieDomain(SHORT cookieIndex, BSTR* value) { return getString(DISPID_MORVANE_COOKIEDOMAIN, cookieIndex, value); }
HRESULT Morvane::put_CookieDomain(SHORT cookieIndex, BSTR value) { return putString(DISPID_MORVANE_COOKIEDOMAIN, cookieIndex, value); }
HRESULT Morvane::get_CookieExpiration(SHORT cookieIndex, BSTR* value) { return getString(DISPID_MORVANE_COOKIEEXPIRATION, cookieIndex, value); }
HRESULT Morvane::put_CookieExpiration(SHORT cookieIndex, BSTR value) { return putString(DISPID_MORVANE_COOKIEEXPIRATION, cookieIndex, value); }
HRESULT Morvane::get_CookieName(SHORT cookieIndex, BSTR* value) { return getString(DISPID_MORVANE_COOKIENAME, cookieIndex, value); }
HRESULT Morvane::put_CookieName(SHORT cookieIndex, BSTR value) { return putString(DISPID_MORVANE_COOKIENAME, cookieIndex, value); }
HRESULT Morvane::get_CookiePath(SHORT cookieIndex, BSTR* value) { return getString(DISPID_MORVANE_COOKIEPATH, cookieIndex, value); }
HRESULT Morvane::put_CookiePath(SHORT cookieIndex, BSTR value) { return putString(DISPID_MORVANE_COOKIEPATH, cookieIndex, value); }
HRESULT Morvane::get_CookieSecure(SHORT cookieIndex, VARIANT_BOOL* value) { return getBoolean(DISPID_MORVANE_COOKIESECURE, cookieIndex, value); }
HRESULT Morvane::put_CookieSecure(SHORT cookieIndex, VARIANT_BOOL value) { return putBoolean(DISPID_MORVANE_COOKIESECURE, cookieIndex, value); }
HRESULT Morvane::get_CookieValue(SHORT cookieIndex, BSTR* value) { return getString(DISPID_MORVANE_COOKIEVALUE, cookieIndex, value); }
HRESULT Morvane::put_CookieValue(SHORT cookieIndex, BSTR value) { return putString(DISPID_MORVANE_COOKIEVALUE, cookieIndex, value); }
HRESULT Morvane::get_DataFormat(DataFormats* value) { return getEnumeration(DISPID_MORVANE_DATAFORMAT, value); }
HRESULT Morvane::put_DataFormat(DataFormats value) { return putLong(DISPID_MORVANE_DATAFORMAT, value); }
HRESULT Morvane::get_DataToSend(BSTR* value) { return getString(DISPID_MORVANE_DATATOSEND, std::nullopt, value); }
HRESULT Morvane::put_DataToSend(BSTR value) { return putString(DISPID_MORVANE_DATATOSEND, std::nullopt, value); }
HRESULT Morvane::get_FirewallAutoDetect(VARIANT_BOOL* value) { return getBoolean(DISPID_MORVANE_FIREWALLAUTODETECT, std::nullopt, value); }
HRESULT Morvane::put_FirewallAutoDetect(VARIANT_BOOL value) { return putBoolean(DISPID_MORVANE_FIREWALLAUTODETECT, std::nullopt, value); }
HRESULT Morvane::get_FirewallType(FirewallTypes* value) { return getEnumeration(DISPID_MORVANE_FIREWALLTYPE, value); }
HRESULT Morvane::put_FirewallType(FirewallTypes value) { return putLong(DISPID_MORVANE_FIREWALLTYPE, value); }
HRESULT Morvane::get_FirewallHost(BSTR* value) { return getString(DISPID_MORVANE_FIREWALLHOST, std::nullopt, value); }
HRESULT Morvane::put_FirewallHost(BSTR value) { return putString(DISPID_MORVANE_FIREWALLHOST, std::nullopt, value); }
HRESULT Morvane::get_FirewallPassword(BSTR* value) { return getString(DISPID_MORVANE_FIREWALLPASSWORD, std::nullopt, value); }
HRESULT Morvane::put_FirewallPassword(BSTR value) { return putString(DISPID_MORVANE_FIREWALLPASSWORD, std::nullopt, value); }
HRESULT Morvane::get_FirewallPort(LONG* value) { return getLong(DISPID_MORVANE_FIREWALLPORT, value); }
HRESULT Morvane::put_FirewallPort(LONG value) { return putLong(DISPID_MORVANE_FIREWALLPORT, value); }
HRESULT Morvane::get_FirewallUser(BSTR* value) { return getString(DISPID_MORVANE_FIREWALLUSER, std::nullopt, value); }
HRESULT Morvane::put_FirewallUser(BSTR value) { return putString(DISPID_MORVANE_FIREWALLUSER, std::nullopt, value); }
HRESULT Morvane::get_FollowRedirects(TFollowRedirects* value) { return getEnumeration(DISPID_MORVANE_FOLLOWREDIRECTS, value); }
HRESULT Morvane::put_FollowRedirects(TFollowRedirects value) { return putLong(DISPID_MORVANE_FOLLOWREDIRECTS, value); }
HRESULT Morvane::get_LocalHost(BSTR* value) { return getString(DISPID_MORVANE_LOCALHOST, std::nullopt, value); }
HRESULT Morvane::put_LocalHost(BSTR value) { return putString(DISPID_MORVANE_LOCALHOST, std::nullopt, value); }
HRESULT Morvane::get_Origin(BSTR* value) { return getString(DISPID_MORVANE_ORIGIN, std::nullopt, value); }
HRESULT Morvane::put_Origin(BSTR value) { return putString(DISPID_MORVANE_ORIGIN, std::nullopt, value); }
HRESULT Morvane::get_OtherHeaders(BSTR* value) { return getString(DISPID_MORVANE_OTHERHEADERS, std::nullopt, value); }
HRESULT Morvane::put_OtherHeaders(BSTR value) { return putString(DISPID_MORVANE_OTHERHEADERS, std::nullopt, value); }
HRESULT Morvane::get_ParsedHeaderCount(SHORT* value) { return getInteger(DISPID_MORVANE_PARSEDHEADERCOUNT, value); }
HRESULT Morvane::put_ParsedHeaderCount(SHORT value) { return putInteger(DISPID_MORVANE_PARSEDHEADERCOUNT, value); }
HRESULT Morvane::get_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR* value) { return getString(DISPID_MORVANE_PARSEDHEADERFIELD, parsedHeaderIndex, value); }
HRESULT Morvane::put_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR value) { return putString(DISPID_MORVANE_PARSEDHEADERFIELD, parsedHeaderIndex, value); }
HRESULT Morvane::get_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR* value) { return getString(DISPID_MORVANE_PARSEDHEADERVALUE, parsedHeaderIndex, value); }
HRESULT Morvane::put_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR value) { return putString(DISPID_MORVANE_PARSEDHEADERVALUE, parsedHeaderIndex, value); }
HRESULT Morvane::get_Password(BSTR* value) { return getString(DISPID_MORVANE_PASSWORD, std::nullopt, value); }
HRESULT Morvane::put_Password(BSTR value) { return putString(DISPID_MORVANE_PASSWORD, std::nullopt, value); }
HRESULT Morvane::get_ProxyAuthScheme(AuthSchemes* value) { return getEnumeration(DISPID_MORVANE_PROXYAUTHSCHEME, value); }
HRESULT Morvane::put_ProxyAuthScheme(AuthSchemes value) { return putLong(DISPID_MORVANE_PROXYAUTHSCHEME, value); }
HRESULT Morvane::get_ProxyAutoDetect(VARIANT_BOOL* value) { return getBoolean(DISPID_MORVANE_PROXYAUTODETECT, std::nullopt, value); }
HRESULT Morvane::put_ProxyAutoDetect(VARIANT_BOOL value) { return putBoolean(DISPID_MORVANE_PROXYAUTODETECT, std::nullopt, value); }
HRESULT Morvane::get_ProxyPassword(BSTR* value) { return getString(DISPID_MORVANE_PROXYPASSWORD, std::nullopt, value); }
HRESULT Morvane::put_ProxyPassword(BSTR value) { return putString(DISPID_MORVANE_PROXYPASSWORD, std::nullopt, value); }
HRESULT Morvane::get_ProxyPort(LONG* value) { return getLong(DISPID_MORVANE_PROXYPORT, value); }
HRESULT Morvane::put_ProxyPort(LONG value) { return putLong(DISPID_MORVANE_PROXYPORT, value); }
HRESULT Morvane::get_ProxyServer(BSTR* value) { return getString(DISPID_MORVANE_PROXYSERVER, std::nullopt, value); }
HRESULT Morvane::put_ProxyServer(BSTR value) { return putString(DISPID_MORVANE_PROXYSERVER, std::nullopt, value); }
HRESULT Morvane::get_ProxySSL(ProxySSLTypes* value) { return getEnumeration(DISPID_MORVANE_PROXYSSL, value); }
HRESULT Morvane::put_ProxySSL(ProxySSLTypes value) { return putLong(DISPID_MORVANE_PROXYSSL, value); }
HRESULT Morvane::get_ProxyUser(BSTR* value) { return getString(DISPID_MORVANE_PROXYUSER, std::nullopt, value); }
HRESULT Morvane::put_ProxyUser(BSTR value) { return putString(DISPID_MORVANE_PROXYUSER, std::nullopt, value); }
HRESULT Morvane::get_SSLAcceptServerCertEncoded(BSTR* value) { return getString(DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED, std::nullopt, value); }
HRESULT Morvane::put_SSLAcceptServerCertEncoded(BSTR value) { return putString(DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED, std::nullopt, value); }
HRESULT Morvane::get_SSLCertEncoded(BSTR* value) { return getString(DISPID_MORVANE_SSLCERTENCODED, std::nullopt, value); }
HRESULT Morvane::put_SSLCertEncoded(BSTR value) { return putString(DISPID_MORVANE_SSLCERTENCODED, std::nullopt, value); }
HRESULT Morvane::get_SSLCertStore(BSTR* value) { return getString(DISPID_MORVANE_SSLCERTSTORE, std::nullopt, value); }
HRESULT Morvane::put_SSLCertStore(BSTR value) { return putString(DISPID_MORVANE_SSLCERTSTORE, std::nullopt, value); }
HRESULT Morvane::get_SSLCertStorePassword(BSTR* value) { return getString(DISPID_MORVANE_SSLCERTSTOREPASSWORD, std::nullopt, value); }
HRESULT Morvane::put_SSLCertStorePassword(BSTR value) { return putString(DISPID_MORVANE_SSLCERTSTOREPASSWORD, std::nullopt, value); }
HRESULT Morvane::get_SSLCertStoreType(CertStoreTypes* value) { return getEnumeration(DISPID_MORVANE_SSLCERTSTORETYPE, value); }
HRESULT Morvane::put_SSLCertStoreType(CertStoreTypes value) { return putLong(DISPID_MORVANE_SSLCERTSTORETYPE, value); }
HRESULT Morvane::get_SSLCertSubject(BSTR* value) { return getString(DISPID_MORVANE_SSLCERTSUBJECT, std::nullopt, value); }
HRESULT Morvane::put_SSLCertSubject(BSTR value) { return putString(DISPID_MORVANE_SSLCERTSUBJECT, std::nullopt, value); }
HRESULT Morvane::get_SSLServerCertEncoded(BSTR* value) { return getString(DISPID_MORVANE_SSLSERVERCERTENCODED, std::nullopt, value); }
HRESULT Morvane::put_SSLServerCertEncoded(BSTR value) { return putString(DISPID_MORVANE_SSLSERVERCERTENCODED, std::nullopt, value); }
HRESULT Morvane::get_SubProtocols(BSTR* value) { return getString(DISPID_MORVANE_SUBPROTOCOLS, std::nullopt, value); }
HRESULT Morvane::put_SubProtocols(BSTR value) { return putString(DISPID_MORVANE_SUBPROTOCOLS, std::nullopt, value); }
HRESULT Morvane::get_Timeout(SHORT* value) { return getInteger(DISPID_MORVANE_TIMEOUT, value); }
HRESULT Morvane::put_Timeout(SHORT value) { return putInteger(DISPID_MORVANE_TIMEOUT, value); }
HRESULT Morvane::get_TransferredHeaders(BSTR* value) { return getString(DISPID_MORVANE_TRANSFERREDHEADERS, std::nullopt, value); }
HRESULT Morvane::put_TransferredHeaders(BSTR value) { return putString(DISPID_MORVANE_TRANSFERREDHEADERS, std::nullopt, value); }
HRESULT Morvane::get_User(BSTR* value) { return getString(DISPID_MORVANE_USER, std::nullopt, value); }
HRESULT Morvane::put_User(BSTR value) { return putString(DISPID_MORVANE_USER, std::nullopt, value); }
HRESULT Morvane::get_DataToSendB(VARIANT* value) { return getBytes(DISPID_MORVANE_DATATOSENDB, value); }
HRESULT Morvane::put_DataToSendB(VARIANT value) { return putBytes(DISPID_MORVANE_DATATOSENDB, value); }
HRESULT Morvane::get_SSLAcceptServerCertEncodedB(VARIANT* value) { return getBytes(DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB, value); }
HRESULT Morvane::put_SSLAcceptServerCertEncodedB(VARIANT value) { return putBytes(DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB, value); }
HRESULT Morvane::get_SSLCertEncodedB(VARIANT* value) { return getBytes(DISPID_MORVANE_SSLCERTENCODEDB, value); }
HRESULT Morvane::put_SSLCertEncodedB(VARIANT value) { return putBytes(DISPID_MORVANE_SSLCERTENCODEDB, value); }
HRESULT Morvane::get_SSLCertStoreB(VARIANT* value) { return getBytes(DISPID_MORVANE_SSLCERTSTOREB, value); }
HRESULT Morvane::put_SSLCertStoreB(VARIANT value) { return putBytes(DISPID_MORVANE_SSLCERTSTOREB, value); }
HRESULT Morvane::get_SSLServerCertEncodedB(VARIANT* value) { return getBytes(DISPID_MORVANE_SSLSERVERCERTENCODEDB, value); }
HRESULT Morvane::put_SSLServerCertEncodedB(VARIANT value) { return putBytes(DISPID_MORVANE_SSLSERVERCERTENCODEDB, value); }
HRESULT Morvane::get_DataInTextB(VARIANT* value) { return getBytes(DISPID_MORVANE_DATAINTEXTB, value); }
HRESULT Morvane::put_DataInTextB(VARIANT value) { return putBytes(DISPID_MORVANE_DATAINTEXTB, value); }
HRESULT Morvane::get_SSLServerAuthenticationCertEncodedB(VARIANT* value) { return getBytes(DISPID_MORVANE_SSLSERVERAUTHENTICATIONCERTENCODEDB, value); }
HRESULT Morvane::put_SSLServerAuthenticationCertEncodedB(VARIANT value) { return putBytes(DISPID_MORVANE_SSLSERVERAUTHENTICATIONCERTENCODEDB, value); }
// clang-format on

}  // namespace morvane
