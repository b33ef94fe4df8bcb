// Stand-ins for the links' tests: a window that shows nothing but keeps its
// status lines, and waits that run Qt's events.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/links/link_shell.h"

namespace taltrix::testing {

// Runs Qt's events until `done` holds, five seconds at most; whether it does.
inline bool runUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

inline void pumpFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// A window in the tray with no device list: it keeps what the link shows
// and ignores the rest.
class QuietShell : public links::LinkShell {
public:
    std::vector<std::string> shown;

    void showStatus(std::string_view message) override { shown.emplace_back(message); }
    void showLabelOnly(std::string_view) override {}
    void replaceTrayIcon(app::WindowIcon, std::string_view) override {}
    void letEventsRun() override {}
    void setHourglass(bool) override {}
    bool inTray() const override { return true; }
    void startBluetoothBlink(int) override {}
    void setBluetoothBlinkInterval(int) override {}
    void stopBluetoothBlink() override {}
    void setBluetoothLight(bool) override {}
    std::string preselectedDevice() const override { return {}; }
    links::DeviceListView& deviceList() override { return list_; }

private:
    class NoList final : public links::DeviceListView {
        void clearRows() override {}
        void addRow(std::string_view, std::string_view) override {}
        void selectRow(int) override {}
        void focusList() override {}
    } list_;
};

}  // namespace taltrix::testing
