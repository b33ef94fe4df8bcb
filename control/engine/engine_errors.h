// The engine's own result codes and the fixed texts that go with them. Every
// engine operation returns 0 or one of these (or a socket error number) and
// leaves a description in the instance's last-error text.
#pragma once

#include <string_view>

namespace morvane::errc {

inline constexpr int unknownConfigSetting = -1;
inline constexpr int fileToSend = 3;
inline constexpr int remotePortLocked = 100;
inline constexpr int remoteHostLocked = 101;
inline constexpr int invalidAddress = 102;
inline constexpr int alreadyConnected = 104;
inline constexpr int localPortLocked = 106;
inline constexpr int maxLineLengthLocked = 112;
inline constexpr int zeroPort = 116;
inline constexpr int firewallFailure = 118;
inline constexpr int busy = 143;
inline constexpr int httpProtocol = 151;
inline constexpr int noServer = 152;
inline constexpr int unknownProxyScheme = 153;
inline constexpr int proxyProtocol = 157;
inline constexpr int outOfMemory = 200;
inline constexpr int securityLibrary = 270;
inline constexpr int certificateStore = 271;
inline constexpr int certificateNotFound = 272;
inline constexpr int useWindowsMessagesLocked = 287;
inline constexpr int interrupted = 301;
inline constexpr int tooManyRedirects = 310;
// A setting's value lies outside what it can hold. The control raises it as
// the property accessors' own out-of-range error (automation error 380).
inline constexpr int outOfRange = 380;
inline constexpr int sendFailed = 4001;
inline constexpr int closeSendFailed = 4002;
inline constexpr int invalidHandshake = 4003;
inline constexpr int messageTooBig = 4004;
// StrictProtocol: the server broke a rule of RFC 6455.
inline constexpr int protocolViolation = 4005;
inline constexpr int invalidPayload = 4006;
inline constexpr int randomUnavailable = 4101;
inline constexpr int needsBlocking = 4103;

// Socket error numbers the layers themselves report.
inline constexpr int interruptedCall = 10004;
inline constexpr int wouldBlock = 10035;
inline constexpr int connectionAborted = 10053;
inline constexpr int socketNotConnected = 10057;

}  // namespace morvane::errc

namespace morvane::errtext {

inline constexpr std::string_view unknownConfigSetting = "Unknown config setting.";
inline constexpr std::string_view noFileName = "You must provide the name of a file to send.";
inline constexpr std::string_view couldNotOpenFile = "Could not open file ";
inline constexpr std::string_view alreadyConnected =
    "Already connected. If you want to reconnect, close the current connection first.";
inline constexpr std::string_view busy = "Busy performing current action.";
inline constexpr std::string_view httpProtocol = "HTTP protocol error. ";
inline constexpr std::string_view missingRedirectLocation =
    "HTTP protocol error. Expected header 'redirectlocation' was not found.";
inline constexpr std::string_view identicalRedirect = "Attempting to redirect to identical URL.  Aborting connection.";
inline constexpr std::string_view noServer = "No server specified in URL";
inline constexpr std::string_view proxyError = "Proxy error: ";
inline constexpr std::string_view outOfMemory = "Out of memory.";
inline constexpr std::string_view certificateNotFound = "Cannot find specified certificate.";
inline constexpr std::string_view interrupted = "Interrupted.";
inline constexpr std::string_view timeout = "Timeout.";
inline constexpr std::string_view tooManyRedirects = "There were too many redirects.";
inline constexpr std::string_view invalidHandshake = "Invalid handshake packet.";
inline constexpr std::string_view needsBlocking = "This operation cannot be performed in a non-blocking manner.";
inline constexpr std::string_view zeroRemotePort =
    "RemotePort can't be zero. Please specify a valid service port number.";
inline constexpr std::string_view securityLibrary = "The security library could not be loaded";
inline constexpr std::string_view outOfRange = "Value is out of range.";
inline constexpr std::string_view disconnectWouldBlock =
    "Operation would block. (To force disconnection, set Linger false).";

}  // namespace morvane::errtext
