// The Bluetooth services the bridge uses to reach its launch monitor:
// radios, discovery of devices in range, and a serial (RFCOMM) client with
// connect, write, data and disconnect events, plus the signal strength.
//
// Two backends sit behind these interfaces: the system's Bluetooth stack
// (BlueZ, through Qt Bluetooth) and an emulator whose "devices" are TCP
// endpoints carrying the serial stream, for tests and demonstrations. Events
// arrive on the thread's event loop, never from inside the call that
// started them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taltrix::bluetooth {

// Result codes. 0 is success; the others are ours, kept apart from any
// errno or Qt value so that a caller can tell them from a count.
enum Result : int {
    resultOk = 0,
    resultNoRadio = 0x5101,
    resultNotConnected = 0x5102,
    resultBusy = 0x5103,
    resultConnectFailed = 0x5104,
    resultWriteFailed = 0x5105,
    resultNameUnavailable = 0x5106,
    resultUnsupported = 0x5107,
    resultBadAddress = 0x5108,
    resultTimedOut = 0x5109,
};

// Client states as the bridge reads them: 0 idle, 2 connected, anything
// else a connection in progress.
inline constexpr int clientIdle = 0;
inline constexpr int clientConnecting = 1;
inline constexpr int clientConnected = 2;

// The transport selector value for a classic Bluetooth (RFCOMM) link.
inline constexpr int transportClassic = 1;

// The Serial Port Profile service.
inline constexpr const char* serialPortServiceUuid = "{00001101-0000-1000-8000-00805F9B34FB}";

class Radio {
public:
    virtual ~Radio() = default;
    virtual std::string address() const = 0;
    virtual std::string name() const = 0;
};
using RadioPtr = std::shared_ptr<Radio>;

class Device {
public:
    virtual ~Device() = default;
    virtual std::string address() const = 0;
    // Reads the device's name through `radio`; 0 on success.
    virtual int readName(const Radio& radio, std::string& name) const = 0;
};
using DevicePtr = std::shared_ptr<Device>;

class Discovery {
public:
    virtual ~Discovery() = default;

    // Fills `radios`; 0 on success (an empty list means there is no radio).
    virtual int listRadios(std::vector<RadioPtr>& radios) = 0;

    // Starts looking for devices for `duration` units of 1.28 s (the
    // Bluetooth inquiry unit; the emulator takes them as 20 ms). Returns at
    // once; onDiscoveryStarted and then onDiscoveryComplete follow. The
    // complete event gets no list when the discovery failed.
    virtual int start(const RadioPtr& radio, std::uint8_t duration, int flags) = 0;

    std::function<void(const RadioPtr& radio)> onDiscoveryStarted;
    std::function<void(const RadioPtr& radio, const std::vector<DevicePtr>* devices)> onDiscoveryComplete;
};

struct ConnectionSettings {
    std::string address;
    RadioPtr radio;
    std::string serviceUuid;
};

class Client {
public:
    virtual ~Client() = default;

    virtual int state() const = 0;
    // Starts connecting with `transport` and `settings`; the outcome comes
    // in onConnect (0 on success).
    virtual int connect() = 0;
    // Closes the link; onDisconnect follows when there was one.
    virtual int disconnect() = 0;
    virtual int write(std::span<const std::uint8_t> bytes) = 0;

    int transport = 0;
    ConnectionSettings settings;

    std::function<void(int error)> onConnect;
    std::function<void(std::span<const std::uint8_t> bytes)> onData;
    std::function<void()> onDisconnect;
};

// Whether the stack has paired with a device.
enum class Pairing { unknown, unpaired, paired };

class Manager {
public:
    virtual ~Manager() = default;

    virtual int open() = 0;
    virtual int close() = 0;
    virtual bool isFailure(int result) const { return result != resultOk; }

    virtual std::unique_ptr<Discovery> createDiscovery() = 0;
    virtual std::unique_ptr<Client> createClient() = 0;

    // Signal strength of the link to `address`, in dBm.
    virtual int signalStrength(const std::string& address, const RadioPtr& radio, std::int32_t& rssi) = 0;

    virtual Pairing pairing(const std::string& /*address*/) { return Pairing::unknown; }

    // What the stack itself says of its adapters and of the devices whose
    // names `ofInterest` picks, as lines of text for a support request.
    virtual std::string stackReport(const std::function<bool(std::string_view name)>& /*ofInterest*/) { return {}; }
};

// The manager the options ask for: `option` is the value of --bluetooth
// ("emulator:NAME@HOST:PORT[,NAME@HOST:PORT...]"), or nothing for the
// system's stack. Returns null and fills `error` when the option is malformed.
std::unique_ptr<Manager> createManager(const std::optional<std::string>& option, std::string& error);

}  // namespace taltrix::bluetooth
