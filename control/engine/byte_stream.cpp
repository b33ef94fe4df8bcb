#include "control/engine/byte_stream.h"

#include "control/engine/engine_context.h"
#include "control/engine/engine_errors.h"
#include "control/engine/socket_errors.h"

namespace morvane {

int connectAndWait(ByteStream& stream, EngineContext& context, std::string_view host, int port,
                   const ConnectOutcome& outcome) {
    Waiter& waiter = context.waiter();
    const Waiter::BlockingOperation operation(waiter);
    if (const int code = stream.connect(host, port)) return code;

    const Waiter::ConnectionPhase phase(waiter);
    while (!outcome.finished) {
        if (!stream.isOpen()) {
            // Closed from an event handler before the connect completed.
            return context.failSocket(errc::connectionAborted);
        }
        if (!waiter.waitStep()) {
            const std::string reason = context.lastErrorText();
            stream.close(0);
            return context.fail(errc::interrupted, reason);
        }
    }
    if (outcome.code == 0) return 0;
    // A layer's own code (a failed handshake) comes with its own text.
    if (!isSocketErrorCode(outcome.code) && context.lastErrorCode() == outcome.code) return outcome.code;
    return context.failSocket(outcome.code);
}

int sendBlocking(ByteStream& stream, EngineContext& context, std::span<const std::uint8_t> data) {
    Waiter& waiter = context.waiter();
    const Waiter::BlockingOperation operation(waiter);
    std::size_t offset = 0;
    while (offset < data.size()) {
        const std::size_t allowed = waiter.sendAllowance(data.size() - offset);
        if (allowed == 0) {
            if (!waiter.waitStep()) return context.lastErrorCode();
            continue;
        }
        std::size_t accepted = 0;
        const int code = stream.send(data.subspan(offset, allowed), &accepted);
        offset += accepted;
        if (code == 0) continue;
        if (code != errc::wouldBlock) return code;
        if (!waiter.waitStep()) return context.lastErrorCode();
    }
    return 0;
}

}  // namespace morvane
