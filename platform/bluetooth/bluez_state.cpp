#include "platform/bluetooth/bluez_state.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>

namespace taltrix::bluetooth {

namespace {

const QString bluezService = QStringLiteral("org.bluez");
// A bluetoothd that takes longer than this to list its objects is stuck; the
// bridge asks again at its next tick rather than freeze the window.
constexpr int answerTimeLimitMs = 2000;
constexpr int versionTimeLimitMs = 2000;
constexpr const char* managedObjectsSignature = "a{oa{sa{sv}}}";

std::string text(const QVariantMap& properties, const char* name) {
    return properties.value(QString::fromLatin1(name)).toString().toStdString();
}

bool flag(const QVariantMap& properties, const char* name) {
    return properties.value(QString::fromLatin1(name)).toBool();
}

void addObject(BluezState& state, const QString& path, const QString& interface, const QVariantMap& properties) {
    if (interface == QLatin1String("org.bluez.Adapter1")) {
        state.adapters.push_back({path.toStdString(), text(properties, "Address"), text(properties, "Alias"),
                                  flag(properties, "Powered"), flag(properties, "Discovering")});
    } else if (interface == QLatin1String("org.bluez.Device1")) {
        BluezDevice device{path.toStdString(),
                           properties.value(QStringLiteral("Adapter")).value<QDBusObjectPath>().path().toStdString(),
                           text(properties, "Address"),
                           text(properties, "Alias"),
                           flag(properties, "Paired"),
                           flag(properties, "Trusted"),
                           flag(properties, "Connected"),
                           {}};
        for (const QString& uuid : properties.value(QStringLiteral("UUIDs")).toStringList())
            device.uuids.push_back(uuid.toStdString());
        state.devices.push_back(std::move(device));
    }
}

std::optional<std::string> versionOf(const QString& program) {
    QProcess process;
    process.start(program, {QStringLiteral("--version")});
    if (!process.waitForFinished(versionTimeLimitMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    const QString answer = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    if (answer.isEmpty() || !answer.front().isDigit()) return std::nullopt;
    return answer.section(QLatin1Char('\n'), 0, 0).toStdString();
}

}  // namespace

const BluezDevice* BluezState::device(const std::string& address) const {
    for (const BluezDevice& d : devices) {
        if (QString::fromStdString(d.address).compare(QString::fromStdString(address), Qt::CaseInsensitive) == 0)
            return &d;
    }
    return nullptr;
}

bool bluezOnBus() {
    QDBusConnection bus = QDBusConnection::systemBus();
    return bus.isConnected() && bus.interface()->isServiceRegistered(bluezService).value();
}

BluezState readBluezState() {
    BluezState state;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        state.error = "the system bus cannot be reached: " + bus.lastError().message().toStdString();
        return state;
    }
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(bluezService, QStringLiteral("/"),
                                       QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                                       QStringLiteral("GetManagedObjects")),
        QDBus::Block, answerTimeLimitMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        state.error = reply.errorName().toStdString() + ": " + reply.errorMessage().toStdString();
        return state;
    }
    // Whoever holds the name is read only when the answer has the object
    // manager's shape: the walk below takes each part as that type.
    if (reply.signature() != QLatin1String(managedObjectsSignature)) {
        state.error = "an answer of type " + reply.signature().toStdString() + " to GetManagedObjects";
        return state;
    }
    state.running = true;
    const QDBusArgument objects = reply.arguments().front().value<QDBusArgument>();
    objects.beginMap();
    while (!objects.atEnd()) {
        objects.beginMapEntry();
        QDBusObjectPath path;
        objects >> path;
        objects.beginMap();
        while (!objects.atEnd()) {
            QString interface;
            QVariantMap properties;
            objects.beginMapEntry();
            objects >> interface >> properties;
            objects.endMapEntry();
            addObject(state, path.path(), interface, properties);
        }
        objects.endMap();
        objects.endMapEntry();
    }
    objects.endMap();
    return state;
}

std::optional<std::string> bluetoothdVersion() {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return std::nullopt;
    const QDBusReply<uint> pid = bus.interface()->servicePid(bluezService);
    if (!pid.isValid()) return std::nullopt;
    const QString process = QStringLiteral("/proc/%1/").arg(pid.value());
    if (auto version = versionOf(process + QStringLiteral("exe"))) return version;
    QFile commandLine(process + QStringLiteral("cmdline"));
    if (!commandLine.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString program = QString::fromLocal8Bit(commandLine.readAll().split('\0').front());
    if (!QFileInfo(program).isExecutable()) return std::nullopt;
    return versionOf(program);
}

}  // namespace taltrix::bluetooth
