#include "control/transport/socket_errors.h"

#include <algorithm>
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

}  // namespace morvane
