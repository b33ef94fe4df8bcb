#include "control/engine/socket_errors.h"

#include <netdb.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

namespace morvane {
namespace {

struct SocketErrorText {
    int code;
    std::string_view text;
};

// In code order, for the binary search below.
constexpr SocketErrorText socketErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Access denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Net dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empt"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc Quota Exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "WINSOCK DLL Version out of range"},
    {10093, "Winsock not loaded yet (WSANOTINITIALISED)"},
    {11001, "Host not found"},
    {11002, "Non-authoritative 'Host not found' (try again or check DNS setup)"},
    {11003, "Non-recoverable errors: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record (check DNS setup)"},
};

static_assert(std::is_sorted(std::begin(socketErrorTexts), std::end(socketErrorTexts),
                             [](const auto& a, const auto& b) { return a.code < b.code; }));

constexpr std::string_view noDescription = "(no description available)";

}  // namespace

std::string_view socketErrorText(int code) {
    const auto* found = std::lower_bound(std::begin(socketErrorTexts), std::end(socketErrorTexts), code,
                                         [](const SocketErrorText& entry, int c) { return entry.code < c; });
    if (found == std::end(socketErrorTexts) || found->code != code) return {};
    return found->text;
}

std::string socketErrorDescription(int code) {
    std::string_view text = socketErrorText(code);
    if (text.empty()) text = noDescription;
    std::string description = "[" + std::to_string(code) + "] ";
    description += text;
    return description;
}

int socketErrorFromErrno(int systemError) {
    if (isSocketErrorCode(systemError)) return systemError;
    switch (systemError) {
        case 0: return 0;
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES:
        case EPERM: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EWOULDBLOCK: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        // A send into a connection the peer has reset is a reset to the caller.
        case ECONNRESET:
        case EPIPE: return 10054;
        case ENOBUFS:
        case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case EUSERS: return 10068;
        case EDQUOT: return 10069;
        case ESTALE: return 10070;
        case EREMOTE: return 10071;
        default: return 10100 + systemError;
    }
}

int resolverErrorCode(int resolverError, bool fromHostErrno) {
    constexpr int hostNotFound = 11001;
    constexpr int tryAgain = 11002;
    constexpr int noRecovery = 11003;
    constexpr int noData = 11004;
    if (fromHostErrno) {
        switch (resolverError) {
            case HOST_NOT_FOUND: return hostNotFound;
            case TRY_AGAIN: return tryAgain;
            case NO_DATA: return noData;
            default: return noRecovery;
        }
    }
    switch (resolverError) {
        case 0: return 0;
        case EAI_NONAME: return hostNotFound;
        case EAI_AGAIN: return tryAgain;
        case EAI_NODATA:
        case EAI_ADDRFAMILY: return noData;
        case EAI_MEMORY: return 10055;
        case EAI_SYSTEM: return socketErrorFromErrno(errno);
        default: return noRecovery;
    }
}

}  // namespace morvane
