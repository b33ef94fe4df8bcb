#include "control/com/morvane_events.h"

#include <limits>
#include <utility>

#include "control/include/morvane.h"
#include "platform/com/bstr.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

std::string_view view(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Sets an event-data slot for the duration of one event; a nested event
// (a handler that pumps messages) gets its own and hands the outer one back.
class SlotScope {
public:
    SlotScope(std::span<const std::uint8_t>& slot, std::span<const std::uint8_t> bytes)
        : slot_(slot), previous_(std::exchange(slot, bytes)) {}
    SlotScope(const SlotScope&) = delete;
    SlotScope& operator=(const SlotScope&) = delete;
    ~SlotScope() { slot_ = previous_; }

private:
    std::span<const std::uint8_t>& slot_;
    std::span<const std::uint8_t> previous_;
};

com::Variant integer(std::int16_t value) { return com::Variant(static_cast<SHORT>(value)); }

}  // namespace

MorvaneEvents::MorvaneEvents(com::ObjectRoot& owner, const com::ConnectionPoint& point)
    : owner_(owner), point_(point) {}

com::Variant MorvaneEvents::text(std::string_view bytes) const {
    // Counted, so embedded zero bytes are kept. Payloads run to megabytes:
    // where each byte is one character they are widened straight into the
    // BSTR the event carries.
    if (BSTR direct = com::allocBstrUnfilled(bytes.size())) {
        if (codepage::widenOneToOne(static_cast<unsigned>(codePage_), bytes, direct)) {
            return com::Variant::fromBstr(direct);
        }
        SysFreeString(direct);
    }
    return com::Variant(codepage::multiByteToWide(static_cast<unsigned>(codePage_), bytes).text);
}

com::ComPtr<IUnknown> MorvaneEvents::holdOwner() const { return com::ComPtr<IUnknown>(owner_.controllingUnknown()); }

void MorvaneEvents::beginEvents() {
    if (runDepth_++ == 0 && !point_.empty()) heldForRun_ = holdOwner();
}

void MorvaneEvents::endEvents() {
    if (--runDepth_ > 0) return;
    // The last reference may go here, and this object with it: nothing of
    // ours is touched after.
    const com::ComPtr<IUnknown> released = std::move(heldForRun_);
}

void MorvaneEvents::fire(DISPID id, std::span<com::Variant> args) {
    if (frozen_) return;
    com::fireEvent(point_, id, args);
}

void MorvaneEvents::connected(std::int16_t statusCode, const std::string& description) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {integer(statusCode), text(description)};
    fire(DISPID_MORVANEEVENT_CONNECTED, args);
}

void MorvaneEvents::connectionStatus(const std::string& connectionEvent, std::int16_t statusCode,
                                     const std::string& description) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {text(connectionEvent), integer(statusCode), text(description)};
    fire(DISPID_MORVANEEVENT_CONNECTIONSTATUS, args);
}

void MorvaneEvents::dataArriving(std::span<const std::uint8_t> soFar, std::uint64_t total, bool first) {
    using Stage = ArrivingText::Stage;
    if (first && arriving_.stage != Stage::waiting) arriving_ = {};
    if (arriving_.stage == Stage::given_up || point_.empty() || frozen_) return;
    if (soFar.size() > total || total > std::numeric_limits<UINT>::max() / sizeof(char16_t)) {
        giveUpArriving();
        return;
    }
    if (arriving_.stage == Stage::waiting) {
        // Not for a length the server merely claims: the Text is begun once a
        // quarter of the payload is in, so that it never holds more than
        // eight times the bytes received.
        if (soFar.size() < total / 4) return;
        BSTR text = com::allocBstrUnfilled(static_cast<UINT>(total));
        if (text == nullptr) {
            giveUpArriving();
            return;
        }
        arriving_.stage = Stage::making;
        arriving_.text = com::Variant::fromBstr(text);
        arriving_.total = total;
        arriving_.codePage = codePage_;
    }
    // Another code page from here on (a handler changed it): made again.
    if (arriving_.codePage != codePage_) arriving_.made = 0;
    arriving_.codePage = codePage_;
    if (arriving_.total != total || soFar.size() < arriving_.made ||
        !codepage::widenOneToOne(static_cast<unsigned>(codePage_), view(soFar.subspan(arriving_.made)),
                                 arriving_.text.bstrVal + arriving_.made)) {
        // Not one character a byte in this code page: DataIn converts it.
        giveUpArriving();
        return;
    }
    arriving_.made = soFar.size();
    if (arriving_.made == total) {
        arriving_.stage = Stage::made;
        arriving_.payload = soFar.data();
    }
}

void MorvaneEvents::giveUpArriving() {
    arriving_ = {};
    arriving_.stage = ArrivingText::Stage::given_up;
}

com::Variant MorvaneEvents::arrivedText(std::span<const std::uint8_t> payload) {
    // What was made as a payload arrived serves its own DataIn only.
    ArrivingText arriving = std::exchange(arriving_, {});
    if (arriving.stage == ArrivingText::Stage::made && arriving.payload == payload.data() &&
        arriving.total == payload.size() && arriving.codePage == codePage_) {
        return std::move(arriving.text);
    }
    return text(view(payload));
}

void MorvaneEvents::dataIn(std::int16_t dataFormat, std::span<const std::uint8_t> payload, bool eom) {
    if (point_.empty()) {
        if (arriving_.stage != ArrivingText::Stage::waiting) arriving_ = {};
        return;
    }
    const auto keepAlive = holdOwnerForEvent();
    const SlotScope slot(dataInText_, payload);
    // Most payloads were never announced: nothing was made for them.
    com::Variant args[] = {integer(dataFormat),
                           arriving_.stage == ArrivingText::Stage::waiting ? text(view(payload)) : arrivedText(payload),
                           com::Variant::fromBool(eom)};
    fire(DISPID_MORVANEEVENT_DATAIN, args);
}

void MorvaneEvents::disconnected(std::int16_t statusCode, const std::string& description) {
    arriving_ = {};  // a payload cut off by the end of the connection
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {integer(statusCode), text(description)};
    fire(DISPID_MORVANEEVENT_DISCONNECTED, args);
}

void MorvaneEvents::error(std::int16_t errorCode, const std::string& description) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {integer(errorCode), text(description)};
    fire(DISPID_MORVANEEVENT_ERROR, args);
}

void MorvaneEvents::header(const std::string& field, const std::string& value) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {text(field), text(value)};
    fire(DISPID_MORVANEEVENT_HEADER, args);
}

void MorvaneEvents::readyToSend() {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    fire(DISPID_MORVANEEVENT_READYTOSEND, {});
}

void MorvaneEvents::redirect(const std::string& location, bool& accept) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {text(location), com::Variant::fromBool(accept)};
    fire(DISPID_MORVANEEVENT_REDIRECT, args);
    accept = args[1].boolVal != VARIANT_FALSE;
}

void MorvaneEvents::setCookie(const std::string& name, const std::string& value, const std::string& expires,
                              const std::string& domain, const std::string& path, bool secure) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {text(name),   text(value), text(expires),
                           text(domain), text(path),  com::Variant::fromBool(secure)};
    fire(DISPID_MORVANEEVENT_SETCOOKIE, args);
}

void MorvaneEvents::sslServerAuthentication(std::span<const std::uint8_t> certEncoded, const std::string& certSubject,
                                            const std::string& certIssuer, const std::string& status, bool& accept) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    const SlotScope slot(certEncoded_, certEncoded);
    com::Variant args[] = {text(view(certEncoded)), text(certSubject), text(certIssuer), text(status),
                           com::Variant::fromBool(accept)};
    fire(DISPID_MORVANEEVENT_SSLSERVERAUTHENTICATION, args);
    accept = args[4].boolVal != VARIANT_FALSE;
}

void MorvaneEvents::sslStatus(const std::string& message) {
    if (point_.empty()) return;
    const auto keepAlive = holdOwnerForEvent();
    com::Variant args[] = {text(message)};
    fire(DISPID_MORVANEEVENT_SSLSTATUS, args);
}

}  // namespace morvane
