// Morvane for embedders: the identities, enumerations, dispatch identifiers
// and the dual interface IMorvane of the WebSocket client control, as a host
// needs them to create the control and drive it early-bound (through the
// vtable) or late-bound (through IDispatch, by name or by DISPID). Events come
// through the connection point of _IMorvaneEvents as IDispatch::Invoke calls
// with every parameter by reference, in reverse order.
//
// Needs only the component runtime (platform/com); the control itself lives
// in libmorvane.so and is reached through the registry:
//
//   com::ComPtr<IMorvane> control;
//   com::createInstance(morvane::kProgId, control);
//   control->put_Timeout(30);
#pragma once

#include "platform/com/dispatch.h"

// The class, its two interfaces and the type library MORVANELib 1.0.
inline constexpr CLSID CLSID_Morvane = com::makeGuid("{4CD01B00-1060-41CE-8DB5-7823B257AC83}");
inline constexpr IID IID_IMorvane = com::makeGuid("{4CD01B01-1060-41CE-8DB5-7823B257AC83}");
inline constexpr IID DIID__IMorvaneEvents = com::makeGuid("{4CD01B02-1060-41CE-8DB5-7823B257AC83}");
inline constexpr GUID LIBID_MORVANELib = com::makeGuid("{4CD01B03-1060-41CE-8DB5-7823B257AC83}");

namespace morvane {

// The three names the class is registered under.
inline constexpr const char* kProgId = "QuillonWS.Morvane.1";
inline constexpr const char* kVersionIndependentProgId = "QuillonWS.Morvane";
inline constexpr const char* kLegacyProgId = "QuillonWS16.Morvane";

// Besides the four standard entry points, libmorvane.so exports (look them
// up with dlsym on the library the runtime loaded):
//   void MorvaneSetAboutBoxHook(MorvaneAboutBoxHook hook)
//     AboutBox hands its caption and text to `hook` (null: one line on
//     standard error); process-wide.
//   const com::TypeLibraryDescription* MorvaneTypeLibrary()
//     MORVANELib as data (platform/com/type_description.h): members,
//     parameters, help contexts and enumeration values.
using MorvaneAboutBoxHook = void (*)(const char* caption, const char* text);
inline constexpr const char* kSetAboutBoxHookExport = "MorvaneSetAboutBoxHook";
inline constexpr const char* kTypeLibraryExport = "MorvaneTypeLibrary";

}  // namespace morvane

enum AuthSchemes : LONG {
    authBasic = 0,
    authDigest = 1,
    authProprietary = 2,
    authNone = 3,
    authNtlm = 4,
    authNegotiate = 5,
    authOAuth = 6,
};

enum DataFormats : LONG { dfAutomatic = 0, dfText = 1, dfBinary = 2, dfPing = 9 };

enum FirewallTypes : LONG { fwNone = 0, fwTunnel = 1, fwSOCKS4 = 2, fwSOCKS5 = 3 };

enum TFollowRedirects : LONG { frNever = 0, frAlways = 1, frSameScheme = 2 };

enum ProxySSLTypes : LONG { psAutomatic = 0, psAlways = 1, psNever = 2, psTunnel = 3 };

enum CertStoreTypes : LONG {
    cstUser = 0,
    cstMachine = 1,
    cstPFXFile = 2,
    cstPFXBlob = 3,
    cstJKSFile = 4,
    cstJKSBlob = 5,
    cstPEMKeyFile = 6,
    cstPEMKeyBlob = 7,
    cstPublicKeyFile = 8,
    cstPublicKeyBlob = 9,
    cstSSHPublicKeyBlob = 10,
    cstP7BFile = 11,
    cstP7BBlob = 12,
    cstSSHPublicKeyFile = 13,
    cstPPKFile = 14,
    cstPPKBlob = 15,
    cstXMLFile = 16,
    cstXMLBlob = 17,
};

// Dispatch identifiers of IMorvane: properties 1 to 53, methods 502 to 511
// and AboutBox (DISPID_ABOUTBOX, -552), the two page-hosting entries.
enum MorvaneDispid : DISPID {
    DISPID_MORVANE_ACCEPTDATA = 1,
    DISPID_MORVANE_AUTHORIZATION = 2,
    DISPID_MORVANE_AUTHSCHEME = 3,
    DISPID_MORVANE_BYTESSENT = 4,
    DISPID_MORVANE_CONNECTED = 5,
    DISPID_MORVANE_COOKIECOUNT = 6,
    DISPID_MORVANE_COOKIEDOMAIN = 7,
    DISPID_MORVANE_COOKIEEXPIRATION = 8,
    DISPID_MORVANE_COOKIENAME = 9,
    DISPID_MORVANE_COOKIEPATH = 10,
    DISPID_MORVANE_COOKIESECURE = 11,
    DISPID_MORVANE_COOKIEVALUE = 12,
    DISPID_MORVANE_DATAFORMAT = 13,
    DISPID_MORVANE_DATATOSEND = 14,
    DISPID_MORVANE_FIREWALLAUTODETECT = 15,
    DISPID_MORVANE_FIREWALLTYPE = 16,
    DISPID_MORVANE_FIREWALLHOST = 17,
    DISPID_MORVANE_FIREWALLPASSWORD = 18,
    DISPID_MORVANE_FIREWALLPORT = 19,
    DISPID_MORVANE_FIREWALLUSER = 20,
    DISPID_MORVANE_FOLLOWREDIRECTS = 21,
    DISPID_MORVANE_LOCALHOST = 22,
    DISPID_MORVANE_ORIGIN = 23,
    DISPID_MORVANE_OTHERHEADERS = 24,
    DISPID_MORVANE_PARSEDHEADERCOUNT = 25,
    DISPID_MORVANE_PARSEDHEADERFIELD = 26,
    DISPID_MORVANE_PARSEDHEADERVALUE = 27,
    DISPID_MORVANE_PASSWORD = 28,
    DISPID_MORVANE_PROXYAUTHSCHEME = 29,
    DISPID_MORVANE_PROXYAUTODETECT = 30,
    DISPID_MORVANE_PROXYPASSWORD = 31,
    DISPID_MORVANE_PROXYPORT = 32,
    DISPID_MORVANE_PROXYSERVER = 33,
    DISPID_MORVANE_PROXYSSL = 34,
    DISPID_MORVANE_PROXYUSER = 35,
    DISPID_MORVANE_SSLACCEPTSERVERCERTENCODED = 36,
    DISPID_MORVANE_SSLCERTENCODED = 37,
    DISPID_MORVANE_SSLCERTSTORE = 38,
    DISPID_MORVANE_SSLCERTSTOREPASSWORD = 39,
    DISPID_MORVANE_SSLCERTSTORETYPE = 40,
    DISPID_MORVANE_SSLCERTSUBJECT = 41,
    DISPID_MORVANE_SSLSERVERCERTENCODED = 42,
    DISPID_MORVANE_SUBPROTOCOLS = 43,
    DISPID_MORVANE_TIMEOUT = 44,
    DISPID_MORVANE_TRANSFERREDHEADERS = 45,
    DISPID_MORVANE_USER = 46,
    DISPID_MORVANE_DATATOSENDB = 47,
    DISPID_MORVANE_SSLACCEPTSERVERCERTENCODEDB = 48,
    DISPID_MORVANE_SSLCERTENCODEDB = 49,
    DISPID_MORVANE_SSLCERTSTOREB = 50,
    DISPID_MORVANE_SSLSERVERCERTENCODEDB = 51,
    DISPID_MORVANE_DATAINTEXTB = 52,
    DISPID_MORVANE_SSLSERVERAUTHENTICATIONCERTENCODEDB = 53,
    DISPID_MORVANE_ADDCOOKIE = 502,
    DISPID_MORVANE_CONFIG = 503,
    DISPID_MORVANE_CONNECT = 504,
    DISPID_MORVANE_DISCONNECT = 505,
    DISPID_MORVANE_DOEVENTS = 506,
    DISPID_MORVANE_INTERRUPT = 507,
    DISPID_MORVANE_RESETHEADERS = 508,
    DISPID_MORVANE_SEND = 509,
    DISPID_MORVANE_SENDFILE = 510,
    DISPID_MORVANE_SENDTEXT = 511,
    DISPID_MORVANE_ONSTARTPAGE = 0x60020077,
    DISPID_MORVANE_ONENDPAGE = 0x60020078,
};

// Dispatch identifiers of _IMorvaneEvents. Parameters, in declaration order
// (they arrive reversed in DISPPARAMS), all VT_BYREF:
//   Connected(StatusCode I2, Description BSTR)
//   ConnectionStatus(ConnectionEvent BSTR, StatusCode I2, Description BSTR)
//   DataIn(DataFormat I2, Text BSTR, EOM BOOL)
//   Disconnected(StatusCode I2, Description BSTR)
//   Error(ErrorCode I2, Description BSTR)
//   Header(Field BSTR, Value BSTR)
//   ReadyToSend()
//   Redirect(Location BSTR, Accept BOOL)             Accept is read back
//   SetCookie(Name, Value, Expires, Domain, Path BSTR, Secure BOOL)
//   SSLServerAuthentication(CertEncoded, CertSubject, CertIssuer, Status BSTR,
//                           Accept BOOL)             Accept is read back
//   SSLStatus(Message BSTR)
enum MorvaneEventDispid : DISPID {
    DISPID_MORVANEEVENT_CONNECTED = 1,
    DISPID_MORVANEEVENT_CONNECTIONSTATUS = 2,
    DISPID_MORVANEEVENT_DATAIN = 3,
    DISPID_MORVANEEVENT_DISCONNECTED = 4,
    DISPID_MORVANEEVENT_ERROR = 5,
    DISPID_MORVANEEVENT_HEADER = 6,
    DISPID_MORVANEEVENT_READYTOSEND = 7,
    DISPID_MORVANEEVENT_REDIRECT = 8,
    DISPID_MORVANEEVENT_SETCOOKIE = 9,
    DISPID_MORVANEEVENT_SSLSERVERAUTHENTICATION = 10,
    DISPID_MORVANEEVENT_SSLSTATUS = 11,
};

// The dual interface. Every property has a get and a put entry, in DISPID
// order; the methods follow in DISPID order, AboutBox first, then the two
// page-hosting entries. Strings are borrowed when passed in and belong to the
// caller when returned; byte-array properties take and give a VARIANT holding
// a one-dimensional SAFEARRAY of bytes. Failures return the HRESULT of the
// control's error and leave error information (ISupportErrorInfo answers
// S_OK for IMorvane).
struct IMorvane : IDispatch {
    static constexpr const IID& uuid = IID_IMorvane;

    virtual HRESULT get_AcceptData(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_AcceptData(VARIANT_BOOL value) = 0;
    virtual HRESULT get_Authorization(BSTR* value) = 0;
    virtual HRESULT put_Authorization(BSTR value) = 0;
    virtual HRESULT get_AuthScheme(AuthSchemes* value) = 0;
    virtual HRESULT put_AuthScheme(AuthSchemes value) = 0;
    virtual HRESULT get_BytesSent(LONG* value) = 0;
    virtual HRESULT put_BytesSent(LONG value) = 0;
    virtual HRESULT get_Connected(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Connected(VARIANT_BOOL value) = 0;
    virtual HRESULT get_CookieCount(SHORT* value) = 0;
    virtual HRESULT put_CookieCount(SHORT value) = 0;
    virtual HRESULT get_CookieDomain(SHORT cookieIndex, BSTR* value) = 0;
    virtual HRESULT put_CookieDomain(SHORT cookieIndex, BSTR value) = 0;
    virtual HRESULT get_CookieExpiration(SHORT cookieIndex, BSTR* value) = 0;
    virtual HRESULT put_CookieExpiration(SHORT cookieIndex, BSTR value) = 0;
    virtual HRESULT get_CookieName(SHORT cookieIndex, BSTR* value) = 0;
    virtual HRESULT put_CookieName(SHORT cookieIndex, BSTR value) = 0;
    virtual HRESULT get_CookiePath(SHORT cookieIndex, BSTR* value) = 0;
    virtual HRESULT put_CookiePath(SHORT cookieIndex, BSTR value) = 0;
    virtual HRESULT get_CookieSecure(SHORT cookieIndex, VARIANT_BOOL* value) = 0;
    virtual HRESULT put_CookieSecure(SHORT cookieIndex, VARIANT_BOOL value) = 0;
    virtual HRESULT get_CookieValue(SHORT cookieIndex, BSTR* value) = 0;
    virtual HRESULT put_CookieValue(SHORT cookieIndex, BSTR value) = 0;
    virtual HRESULT get_DataFormat(DataFormats* value) = 0;
    virtual HRESULT put_DataFormat(DataFormats value) = 0;
    virtual HRESULT get_DataToSend(BSTR* value) = 0;
    virtual HRESULT put_DataToSend(BSTR value) = 0;
    virtual HRESULT get_FirewallAutoDetect(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_FirewallAutoDetect(VARIANT_BOOL value) = 0;
    virtual HRESULT get_FirewallType(FirewallTypes* value) = 0;
    virtual HRESULT put_FirewallType(FirewallTypes value) = 0;
    virtual HRESULT get_FirewallHost(BSTR* value) = 0;
    virtual HRESULT put_FirewallHost(BSTR value) = 0;
    virtual HRESULT get_FirewallPassword(BSTR* value) = 0;
    virtual HRESULT put_FirewallPassword(BSTR value) = 0;
    virtual HRESULT get_FirewallPort(LONG* value) = 0;
    virtual HRESULT put_FirewallPort(LONG value) = 0;
    virtual HRESULT get_FirewallUser(BSTR* value) = 0;
    virtual HRESULT put_FirewallUser(BSTR value) = 0;
    virtual HRESULT get_FollowRedirects(TFollowRedirects* value) = 0;
    virtual HRESULT put_FollowRedirects(TFollowRedirects value) = 0;
    virtual HRESULT get_LocalHost(BSTR* value) = 0;
    virtual HRESULT put_LocalHost(BSTR value) = 0;
    virtual HRESULT get_Origin(BSTR* value) = 0;
    virtual HRESULT put_Origin(BSTR value) = 0;
    virtual HRESULT get_OtherHeaders(BSTR* value) = 0;
    virtual HRESULT put_OtherHeaders(BSTR value) = 0;
    virtual HRESULT get_ParsedHeaderCount(SHORT* value) = 0;
    virtual HRESULT put_ParsedHeaderCount(SHORT value) = 0;
    virtual HRESULT get_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR* value) = 0;
    virtual HRESULT put_ParsedHeaderField(SHORT parsedHeaderIndex, BSTR value) = 0;
    virtual HRESULT get_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR* value) = 0;
    virtual HRESULT put_ParsedHeaderValue(SHORT parsedHeaderIndex, BSTR value) = 0;
    virtual HRESULT get_Password(BSTR* value) = 0;
    virtual HRESULT put_Password(BSTR value) = 0;
    virtual HRESULT get_ProxyAuthScheme(AuthSchemes* value) = 0;
    virtual HRESULT put_ProxyAuthScheme(AuthSchemes value) = 0;
    virtual HRESULT get_ProxyAutoDetect(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_ProxyAutoDetect(VARIANT_BOOL value) = 0;
    virtual HRESULT get_ProxyPassword(BSTR* value) = 0;
    virtual HRESULT put_ProxyPassword(BSTR value) = 0;
    virtual HRESULT get_ProxyPort(LONG* value) = 0;
    virtual HRESULT put_ProxyPort(LONG value) = 0;
    virtual HRESULT get_ProxyServer(BSTR* value) = 0;
    virtual HRESULT put_ProxyServer(BSTR value) = 0;
    virtual HRESULT get_ProxySSL(ProxySSLTypes* value) = 0;
    virtual HRESULT put_ProxySSL(ProxySSLTypes value) = 0;
    virtual HRESULT get_ProxyUser(BSTR* value) = 0;
    virtual HRESULT put_ProxyUser(BSTR value) = 0;
    virtual HRESULT get_SSLAcceptServerCertEncoded(BSTR* value) = 0;
    virtual HRESULT put_SSLAcceptServerCertEncoded(BSTR value) = 0;
    virtual HRESULT get_SSLCertEncoded(BSTR* value) = 0;
    virtual HRESULT put_SSLCertEncoded(BSTR value) = 0;
    virtual HRESULT get_SSLCertStore(BSTR* value) = 0;
    virtual HRESULT put_SSLCertStore(BSTR value) = 0;
    virtual HRESULT get_SSLCertStorePassword(BSTR* value) = 0;
    virtual HRESULT put_SSLCertStorePassword(BSTR value) = 0;
    virtual HRESULT get_SSLCertStoreType(CertStoreTypes* value) = 0;
    virtual HRESULT put_SSLCertStoreType(CertStoreTypes value) = 0;
    virtual HRESULT get_SSLCertSubject(BSTR* value) = 0;
    virtual HRESULT put_SSLCertSubject(BSTR value) = 0;
    virtual HRESULT get_SSLServerCertEncoded(BSTR* value) = 0;
    virtual HRESULT put_SSLServerCertEncoded(BSTR value) = 0;
    virtual HRESULT get_SubProtocols(BSTR* value) = 0;
    virtual HRESULT put_SubProtocols(BSTR value) = 0;
    virtual HRESULT get_Timeout(SHORT* value) = 0;
    virtual HRESULT put_Timeout(SHORT value) = 0;
    virtual HRESULT get_TransferredHeaders(BSTR* value) = 0;
    virtual HRESULT put_TransferredHeaders(BSTR value) = 0;
    virtual HRESULT get_User(BSTR* value) = 0;
    virtual HRESULT put_User(BSTR value) = 0;
    virtual HRESULT get_DataToSendB(VARIANT* value) = 0;
    virtual HRESULT put_DataToSendB(VARIANT value) = 0;
    virtual HRESULT get_SSLAcceptServerCertEncodedB(VARIANT* value) = 0;
    virtual HRESULT put_SSLAcceptServerCertEncodedB(VARIANT value) = 0;
    virtual HRESULT get_SSLCertEncodedB(VARIANT* value) = 0;
    virtual HRESULT put_SSLCertEncodedB(VARIANT value) = 0;
    virtual HRESULT get_SSLCertStoreB(VARIANT* value) = 0;
    virtual HRESULT put_SSLCertStoreB(VARIANT value) = 0;
    virtual HRESULT get_SSLServerCertEncodedB(VARIANT* value) = 0;
    virtual HRESULT put_SSLServerCertEncodedB(VARIANT value) = 0;
    virtual HRESULT get_DataInTextB(VARIANT* value) = 0;
    virtual HRESULT put_DataInTextB(VARIANT value) = 0;
    virtual HRESULT get_SSLServerAuthenticationCertEncodedB(VARIANT* value) = 0;
    virtual HRESULT put_SSLServerAuthenticationCertEncodedB(VARIANT value) = 0;

    virtual HRESULT AboutBox() = 0;
    virtual HRESULT AddCookie(BSTR cookieName, BSTR cookieValue) = 0;
    // The result is allocated by the control, also (empty) when the call fails.
    virtual HRESULT Config(BSTR configurationString, BSTR* result) = 0;
    virtual HRESULT Connect(BSTR url) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT DoEvents() = 0;
    virtual HRESULT Interrupt() = 0;
    virtual HRESULT ResetHeaders() = 0;
    virtual HRESULT Send(BSTR data) = 0;
    virtual HRESULT SendFile(BSTR fileName) = 0;
    virtual HRESULT SendText(BSTR text) = 0;
    virtual HRESULT OnStartPage(IUnknown* piUnk) = 0;
    virtual HRESULT OnEndPage() = 0;

protected:
    ~IMorvane() = default;
};
