// The control's side of EngineEvents: every engine event becomes the event of
// _IMorvaneEvents with the same number, fired at each connected sink with its
// arguments by reference; the two Accept answers are read back, and the
// payload of DataIn and the certificate of SSLServerAuthentication are held
// in the event-data slots while their event is being fired.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "control/engine/engine_events.h"
#include "platform/com/connection_point.h"
#include "platform/com/object.h"

namespace morvane {

class MorvaneEvents final : public EngineEvents {
public:
    // `owner` is kept alive while a sink runs, since a handler may drop the
    // last reference its host holds.
    MorvaneEvents(com::ObjectRoot& owner, const com::ConnectionPoint& point);

    // DataInTextB and SSLServerAuthenticationCertEncodedB: the bytes of the
    // event being fired, empty outside it.
    std::span<const std::uint8_t> dataInText() const { return dataInText_; }
    std::span<const std::uint8_t> certEncoded() const { return certEncoded_; }
    // While the container has frozen events (IOleControl::FreezeEvents) they
    // are dropped; the answers of Redirect and SSLServerAuthentication stay
    // the control's own verdict.
    void setFrozen(bool frozen) { frozen_ = frozen; }

    void useCodePage(int codePage) override { codePage_ = codePage; }
    // The owner is held once for a whole run instead of once per event.
    void beginEvents() override;
    void endEvents() override;
    void connected(std::int16_t statusCode, const std::string& description) override;
    void connectionStatus(const std::string& connectionEvent, std::int16_t statusCode,
                          const std::string& description) override;
    void dataIn(std::int16_t dataFormat, std::span<const std::uint8_t> text, bool eom) override;
    // The Text of a long payload is made as its bytes arrive, where each
    // byte is one character: only its last piece is left for DataIn.
    void dataArriving(std::span<const std::uint8_t> soFar, std::uint64_t total, bool first) override;
    void disconnected(std::int16_t statusCode, const std::string& description) override;
    void error(std::int16_t errorCode, const std::string& description) override;
    void header(const std::string& field, const std::string& value) override;
    void readyToSend() override;
    void redirect(const std::string& location, bool& accept) override;
    void setCookie(const std::string& name, const std::string& value, const std::string& expires,
                   const std::string& domain, const std::string& path, bool secure) override;
    void sslServerAuthentication(std::span<const std::uint8_t> certEncoded, const std::string& certSubject,
                                 const std::string& certIssuer, const std::string& status, bool& accept) override;
    void sslStatus(const std::string& message) override;

private:
    com::Variant text(std::string_view bytes) const;
    // The Text of the payload dataIn is given, once something was made on
    // its way: what was made when that is this payload's, whole and in the
    // code page now in use; made from the payload otherwise.
    com::Variant arrivedText(std::span<const std::uint8_t> payload);
    // The payload on its way is left for DataIn to convert.
    void giveUpArriving();
    // Taken first thing in every event and dropped last: the slots and the
    // arguments are the owner's until the event has returned.
    com::ComPtr<IUnknown> holdOwner() const;
    // For one event: nothing when a run already holds the owner.
    com::ComPtr<IUnknown> holdOwnerForEvent() const { return heldForRun_ ? com::ComPtr<IUnknown>() : holdOwner(); }
    void fire(DISPID id, std::span<com::Variant> args);

    com::ObjectRoot& owner_;
    const com::ConnectionPoint& point_;
    int codePage_ = 0;
    bool frozen_ = false;
    // The Text of a payload on its way.
    struct ArrivingText {
        enum class Stage { waiting, making, made, given_up };
        Stage stage = Stage::waiting;
        com::Variant text;  // a BSTR of `total` characters, the first `made` of them written
        std::uint64_t total = 0;
        std::size_t made = 0;
        int codePage = 0;
        const std::uint8_t* payload = nullptr;  // where the payload lay, once whole
    };
    ArrivingText arriving_;
    std::span<const std::uint8_t> dataInText_;
    std::span<const std::uint8_t> certEncoded_;
    int runDepth_ = 0;
    com::ComPtr<IUnknown> heldForRun_;
};

}  // namespace morvane
