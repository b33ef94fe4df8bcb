#include "platform/bluetooth/system_backend.h"

#include <QBluetoothAddress>
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QBluetoothHostInfo>
#include <QBluetoothSocket>
#include <QBluetoothUuid>
#include <QTimer>
#include <map>

#include "platform/bluetooth/bluez_state.h"
#include "platform/bluetooth/socket_client.h"

namespace taltrix::bluetooth {

namespace {

// The Bluetooth inquiry unit, in milliseconds. TALTRIX_BLUETOOTH_INQUIRY_MS
// sets another, for a stack that answers at once (a test's stand-in for
// bluetoothd) and a demonstration that should not wait 19 s for its device.
int inquiryUnitMs() {
    bool ok = false;
    const int unit = qEnvironmentVariableIntValue("TALTRIX_BLUETOOTH_INQUIRY_MS", &ok);
    return ok && unit > 0 ? unit : 1280;
}

// What the last discoveries saw, for the signal strength: the stack reports
// it with each device found.
using SignalTable = std::map<std::string, std::int32_t>;

class SystemRadio final : public Radio {
public:
    explicit SystemRadio(const BluezAdapter& adapter) {
        host_.setAddress(QBluetoothAddress(QString::fromStdString(adapter.address)));
        host_.setName(QString::fromStdString(adapter.name));
    }
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
    explicit SystemDiscovery(std::shared_ptr<SignalTable> signal) : signal_(std::move(signal)) {
        stopTimer_.setSingleShot(true);
        QObject::connect(&stopTimer_, &QTimer::timeout, &guard_, [this] {
            if (agent_) agent_->stop();
        });
    }

    ~SystemDiscovery() override {
        if (agent_) QObject::disconnect(agent_.get(), nullptr, &guard_, nullptr);
    }

    // The adapters that are switched on. Qt is asked nothing while bluetoothd
    // is away: it would decide, for the rest of the process, that there is no
    // BlueZ, and pick the road its sockets take from that.
    int listRadios(std::vector<RadioPtr>& radios) override {
        radios.clear();
        if (!bluezOnBus()) return resultOk;
        for (const BluezAdapter& adapter : readBluezState().adapters) {
            if (adapter.powered) radios.push_back(std::make_shared<SystemRadio>(adapter));
        }
        return resultOk;
    }

    int start(const RadioPtr& radio, std::uint8_t duration, int) override {
        const auto* systemRadio = dynamic_cast<const SystemRadio*>(radio.get());
        if (systemRadio == nullptr) return resultNoRadio;
        if (agent_) return resultBusy;
        agent_ = std::make_unique<QBluetoothDeviceDiscoveryAgent>(systemRadio->hostAddress());
        QBluetoothDeviceDiscoveryAgent* agent = agent_.get();
        QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::finished, &guard_, [this, radio] {
            complete(radio, true);
        });
        QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::canceled, &guard_, [this, radio] {
            complete(radio, true);
        });
        QObject::connect(agent, &QBluetoothDeviceDiscoveryAgent::errorOccurred, &guard_,
                         [this, radio](QBluetoothDeviceDiscoveryAgent::Error) { complete(radio, false); });
        // The agent reports some failures (an adapter switched off a moment
        // ago) from inside its start(), so it is started from the event loop,
        // after the started event, never inside this call.
        QTimer::singleShot(0, &guard_, [this, radio, agent, duration] {
            if (onDiscoveryStarted) onDiscoveryStarted(radio);
            if (agent_.get() != agent) return;
            agent->start(QBluetoothDeviceDiscoveryAgent::ClassicMethod);
            if (agent_.get() != agent) return;
            // An agent made for an adapter that went in the meantime refuses
            // to start without a word.
            if (!agent->isActive()) {
                complete(radio, false);
                return;
            }
            stopTimer_.start(duration * inquiryUnitMs());
        });
        return resultOk;
    }

private:
    void complete(const RadioPtr& radio, bool ok) {
        if (!agent_) return;
        stopTimer_.stop();
        QBluetoothDeviceDiscoveryAgent* agent = agent_.release();
        QObject::disconnect(agent, nullptr, &guard_, nullptr);
        found_.clear();
        if (ok) {
            for (const QBluetoothDeviceInfo& info : agent->discoveredDevices()) {
                found_.push_back(std::make_shared<SystemDevice>(info));
                (*signal_)[info.address().toString().toStdString()] = info.rssi();
            }
        }
        // Reached from the agent's own signal, or from inside its start().
        agent->deleteLater();
        if (onDiscoveryComplete) onDiscoveryComplete(radio, ok ? &found_ : nullptr);
    }

    std::shared_ptr<SignalTable> signal_;
    std::unique_ptr<QBluetoothDeviceDiscoveryAgent> agent_;
    std::vector<DevicePtr> found_;
    QTimer stopTimer_;
    QObject guard_;
};

class SystemClient final : public SocketClient<QBluetoothSocket> {
public:
    int connect() override {
        if (state_ != clientIdle) return resultBusy;
        const QBluetoothAddress address(QString::fromStdString(settings.address));
        if (address.isNull()) return resultBadAddress;
        if (!bluezOnBus()) return failLater(resultNoRadio);
        // Qt picks the road of a socket (BlueZ's profile manager, or raw
        // RFCOMM sockets of the kernel) when the socket is made, from the
        // bluetoothd it finds; made here, that is the one running now.
        newSocket(QBluetoothServiceInfo::RfcommProtocol)
            .connectToService(address, QBluetoothUuid(QString::fromStdString(settings.serviceUuid)));
        return resultOk;
    }

private:
    void closeLink(QBluetoothSocket& socket) override { socket.disconnectFromService(); }
};

std::string yesNo(bool value) { return value ? "yes" : "no"; }

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

    Pairing pairing(const std::string& address) override {
        if (!bluezOnBus()) return Pairing::unknown;
        const BluezState state = readBluezState();
        const BluezDevice* device = state.device(address);
        if (device == nullptr) return Pairing::unknown;
        return device->paired ? Pairing::paired : Pairing::unpaired;
    }

    std::string stackReport(const std::function<bool(std::string_view name)>& ofInterest) override {
        if (!bluezOnBus()) return "bluetoothd: not running (no org.bluez on the system bus)\n";
        const BluezState state = readBluezState();
        if (!state.running) return "bluetoothd: does not answer (" + state.error + ")\n";
        const std::optional<std::string> version = bluetoothdVersion();
        std::string text = "bluetoothd: running, version " + version.value_or("unknown") + "\n";
        for (const BluezAdapter& a : state.adapters) {
            text += "bluez adapter " + a.path + ": " + a.address + " " + a.name + ", powered " + yesNo(a.powered) +
                    ", discovering " + yesNo(a.discovering) + "\n";
        }
        for (const BluezDevice& d : state.devices) {
            if (!ofInterest(d.name)) continue;
            text += "bluez device " + d.address + " " + d.name + ": paired " + yesNo(d.paired) + ", trusted " +
                    yesNo(d.trusted) + ", connected " + yesNo(d.connected) + ", services";
            for (const std::string& uuid : d.uuids) text += " " + uuid;
            text += "\n";
        }
        return text;
    }

private:
    std::shared_ptr<SignalTable> signal_ = std::make_shared<SignalTable>();
};

}  // namespace

std::unique_ptr<Manager> createSystemManager() { return std::make_unique<SystemManager>(); }

}  // namespace taltrix::bluetooth
