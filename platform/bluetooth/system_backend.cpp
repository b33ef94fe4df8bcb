#include "platform/bluetooth/system_backend.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothLocalDevice>
#include <QBluetoothSocket>
#include <QBluetoothUuid>
#include <QTimer>
#include <map>

#include "platform/bluetooth/socket_client.h"

namespace taltrix::bluetooth {

namespace {

// The Bluetooth inquiry unit.
constexpr int inquiryUnitMs = 1280;

// What the last discoveries saw, for the signal strength: the stack reports
// it with each device found.
using SignalTable = std::map<std::string, std::int32_t>;

class SystemRadio final : public Radio {
public:
    explicit SystemRadio(QBluetoothHostInfo host) : host_(std::move(host)) {}
    std::string address() const override { return host_.address().toString().toStdString(); }
    std::string name() const override { return host_.name().toStdString(); }
    QBluetoothAddress hostAddress() const { return host_.address(); }

private:
    QBluetoothHostInfo host_;
};

class SystemDevice final : public Device {
public:
    explicit SystemDevice(QBluetoothDeviceInfo info) : info_(std::move(info)) {}
    std::string address() const override { return info_.address().toString().toStdString(); }
    int readName(const Radio&, std::string& name) const override {
        if (info_.name().isEmpty()) return resultNameUnavailable;
        name = info_.name().toStdString();
        return resultOk;
    }

private:
    QBluetoothDeviceInfo info_;
};

class SystemDiscovery final : public Discovery {
public:
    explicit SystemDiscovery(std::shared_ptr<SignalTable> signal) : signal_(std::move(signal)) {}

    int listRadios(std::vector<RadioPtr>& radios) override {
        radios.clear();
        for (const QBluetoothHostInfo& host : QBluetoothLocalDevice::allDevices()) {
            radios.push_back(std::make_shared<SystemRadio>(host));
        }
        return resultOk;
    }

    int start(const RadioPtr& radio, std::uint8_t duration, int) override {
        const auto* systemRadio = dynamic_cast<const SystemRadio*>(radio.get());
        if (systemRadio == nullptr) return resultNoRadio;
        if (agent_ && agent_->isActive()) return resultBusy;
        agent_ = std::make_unique<QBluetoothDeviceDiscoveryAgent>(systemRadio->hostAddress());
        QObject::connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::finished, agent_.get(),
                         [this, radio] { complete(radio, true); });
        QObject::connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::canceled, agent_.get(),
                         [this, radio] { complete(radio, true); });
        QObject::connect(agent_.get(), &QBluetoothDeviceDiscoveryAgent::errorOccurred, agent_.get(),
                         [this, radio](QBluetoothDeviceDiscoveryAgent::Error) { complete(radio, false); });
        agent_->start(QBluetoothDeviceDiscoveryAgent::ClassicMethod);
        QTimer::singleShot(duration * inquiryUnitMs, agent_.get(), [agent = agent_.get()] { agent->stop(); });
        QTimer::singleShot(0, agent_.get(), [this, radio] {
            if (onDiscoveryStarted) onDiscoveryStarted(radio);
        });
        return resultOk;
    }

private:
    void complete(const RadioPtr& radio, bool ok) {
        if (completed_) return;
        completed_ = true;
        found_.clear();
        if (ok) {
            for (const QBluetoothDeviceInfo& info : agent_->discoveredDevices()) {
                found_.push_back(std::make_shared<SystemDevice>(info));
                (*signal_)[info.address().toString().toStdString()] = info.rssi();
            }
        }
        // The agent is released once its signal has returned.
        QTimer::singleShot(0, [agent = agent_.release()] { delete agent; });
        if (onDiscoveryComplete) onDiscoveryComplete(radio, ok ? &found_ : nullptr);
        completed_ = false;
    }

    std::shared_ptr<SignalTable> signal_;
    std::unique_ptr<QBluetoothDeviceDiscoveryAgent> agent_;
    std::vector<DevicePtr> found_;
    bool completed_ = false;
};

class SystemClient final : public SocketClient<QBluetoothSocket> {
public:
    SystemClient() : SocketClient(QBluetoothServiceInfo::RfcommProtocol) {}

    int connect() override {
        if (state_ != clientIdle) return resultBusy;
        const QBluetoothAddress address(QString::fromStdString(settings.address));
        if (address.isNull()) return resultBadAddress;
        state_ = clientConnecting;
        socket_.connectToService(address, QBluetoothUuid(QString::fromStdString(settings.serviceUuid)));
        return resultOk;
    }

    int disconnect() override {
        if (state_ == clientIdle) return resultNotConnected;
        socket_.disconnectFromService();
        return resultOk;
    }
};

class SystemManager final : public Manager {
public:
    int open() override { return resultOk; }
    int close() override { return resultOk; }
    std::unique_ptr<Discovery> createDiscovery() override { return std::make_unique<SystemDiscovery>(signal_); }
    std::unique_ptr<Client> createClient() override { return std::make_unique<SystemClient>(); }
    int signalStrength(const std::string& address, const RadioPtr& radio, std::int32_t& rssi) override {
        if (!radio) return resultNoRadio;
        const auto known = signal_->find(address);
        if (known == signal_->end()) return resultUnsupported;
        rssi = known->second;
        return resultOk;
    }

private:
    std::shared_ptr<SignalTable> signal_ = std::make_shared<SignalTable>();
};

}  // namespace

std::unique_ptr<Manager> createSystemManager() { return std::make_unique<SystemManager>(); }

}  // namespace taltrix::bluetooth
