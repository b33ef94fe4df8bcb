#include "platform/bluetooth/emulator_backend.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "platform/bluetooth/socket_client.h"

namespace taltrix::bluetooth {

namespace {

// One discovery unit of the emulator, so that a discovery takes a moment
// (as a real one does) without slowing tests down.
constexpr int emulatedUnitMs = 20;

class EmulatedRadio final : public Radio {
public:
    std::string address() const override { return "00:00:00:00:00:00"; }
    std::string name() const override { return "Taltrix emulated radio"; }
};

class EmulatedDeviceEntry final : public Device {
public:
    explicit EmulatedDeviceEntry(EmulatedDevice device) : device_(std::move(device)) {}
    std::string address() const override { return device_.address(); }
    int readName(const Radio&, std::string& name) const override {
        name = device_.name;
        return resultOk;
    }

private:
    EmulatedDevice device_;
};

// Runs `action` on the event loop, unless `guard` has gone by then.
template <typename Action>
void later(QObject* guard, int delayMs, Action action) {
    QTimer::singleShot(delayMs, guard, std::move(action));
}

class EmulatedDiscovery final : public Discovery {
public:
    EmulatedDiscovery(std::shared_ptr<const std::vector<EmulatedDevice>> devices, RadioPtr radio)
        : devices_(std::move(devices)), radio_(std::move(radio)) {}

    int listRadios(std::vector<RadioPtr>& radios) override {
        radios.assign(1, radio_);
        return resultOk;
    }

    int start(const RadioPtr& radio, std::uint8_t duration, int) override {
        if (!radio) return resultNoRadio;
        if (running_) return resultBusy;
        running_ = true;
        later(&guard_, 0, [this, radio] {
            if (onDiscoveryStarted) onDiscoveryStarted(radio);
        });
        later(&guard_, duration * emulatedUnitMs, [this, radio] {
            running_ = false;
            found_.clear();
            for (const EmulatedDevice& d : *devices_) found_.push_back(std::make_shared<EmulatedDeviceEntry>(d));
            if (onDiscoveryComplete) onDiscoveryComplete(radio, &found_);
        });
        return resultOk;
    }

private:
    std::shared_ptr<const std::vector<EmulatedDevice>> devices_;
    RadioPtr radio_;
    std::vector<DevicePtr> found_;
    bool running_ = false;
    QObject guard_;
};

class EmulatedClient final : public SocketClient<QTcpSocket> {
public:
    explicit EmulatedClient(std::shared_ptr<const std::vector<EmulatedDevice>> devices)
        : devices_(std::move(devices)) {}

    int connect() override {
        if (state_ != clientIdle) return resultBusy;
        const auto device = std::find_if(devices_->begin(), devices_->end(),
                                         [&](const EmulatedDevice& d) { return d.address() == settings.address; });
        // An address nobody answers at fails the way a real link does.
        if (device == devices_->end()) return failLater(resultBadAddress);
        newSocket().connectToHost(QString::fromStdString(device->host), device->port);
        return resultOk;
    }

private:
    void linkUp(QTcpSocket& socket) override { socket.setSocketOption(QAbstractSocket::LowDelayOption, 1); }
    void closeLink(QTcpSocket& socket) override {
        socket.disconnectFromHost();
        if (socket.state() != QAbstractSocket::UnconnectedState) socket.abort();
    }

    std::shared_ptr<const std::vector<EmulatedDevice>> devices_;
};

class EmulatorManager final : public Manager {
public:
    explicit EmulatorManager(std::vector<EmulatedDevice> devices)
        : devices_(std::make_shared<const std::vector<EmulatedDevice>>(std::move(devices))),
          radio_(std::make_shared<EmulatedRadio>()) {}

    int open() override { return resultOk; }
    int close() override { return resultOk; }
    std::unique_ptr<Discovery> createDiscovery() override {
        return std::make_unique<EmulatedDiscovery>(devices_, radio_);
    }
    std::unique_ptr<Client> createClient() override { return std::make_unique<EmulatedClient>(devices_); }
    int signalStrength(const std::string& address, const RadioPtr& radio, std::int32_t& rssi) override {
        if (!radio) return resultNoRadio;
        const bool known = std::any_of(devices_->begin(), devices_->end(),
                                       [&](const EmulatedDevice& d) { return d.address() == address; });
        if (!known) return resultNotConnected;
        rssi = emulatedSignalStrength;
        return resultOk;
    }

private:
    std::shared_ptr<const std::vector<EmulatedDevice>> devices_;
    RadioPtr radio_;
};

}  // namespace

std::unique_ptr<Manager> createEmulatorManager(std::vector<EmulatedDevice> devices) {
    return std::make_unique<EmulatorManager>(std::move(devices));
}

}  // namespace taltrix::bluetooth
