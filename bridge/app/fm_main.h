// fmMain: the bridge's one window. Every control carries its name as its
// object name. The window is a view of AppCore, which holds the state and
// the logic; the window only shows it and forwards the user's clicks.
#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "bridge/app/app_core.h"
#include "bridge/app/app_view.h"
#include "bridge/app/autostart.h"

class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTreeWidget;

namespace taltrix::app {

class fmMain final : public QWidget, public AppView {
public:
    // Window sizes in pixels: 6600 x 3300 twips, and 9500 twips tall with
    // the debug controls.
    static constexpr int windowWidth = 440;
    static constexpr int normalHeight = 220;
    static constexpr int debugHeight = 633;

    fmMain(Dialogs& dialogs, std::string programFolder);
    ~fmMain() override;

    AppCore& core() { return *core_; }
    QTreeWidget* deviceList() const { return lvDevices_; }
    QComboBox* serviceList() const { return cbServices_; }

    // AppView
    void setMessageLabel(std::string_view text) override;
    void setTraceText(std::string_view text) override;
    void statusLine(std::string_view) override {}
    void setRawDataText(std::string_view text) override;
    void showLight(Light light, Rgb lineColour, bool pictureOn) override;
    void applySimulatorChoice(const SimulatorChoice& choice) override;
    bool hasWindow() const override { return true; }
    bool trayAvailable() const override;
    void deleteTrayIcon() override;
    void addTrayIcon(WindowIcon icon, std::string_view tip) override;
    void setWindowIcon(WindowIcon icon) override;
    void applyStartLayout() override;
    void applyDebugLayout(bool debug) override;
    void selectDefaultService() override;
    bool isMaximized() const override { return QWidget::isMaximized(); }
    bool isMinimized() const override { return QWidget::isMinimized(); }
    void showNormal() override;
    void minimizeAndHide() override;
    void minimizeToTaskBar() override { showMinimized(); }
    TrayChange trayChange() override;

    // The session entry the tray menu turns on and off.
    void setAutostart(Autostart autostart) { autostart_ = std::move(autostart); }
    void setBusyPointer(bool busy) override;
    void letEventsRun() override;
    void endProgram() override;

    // Whether a tray icon is up, and its tip (for tests and the screenshot).
    bool trayIconShown() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void connectControls();
    // The notification icon's menu: the History window, the diagnostics
    // bundle and the quit question (tray_menu.cpp).
    void buildTrayMenu();
    // The notification icon, once the desktop has a tray for it.
    void createTray();
    template <typename W>
    W* make(const char* name, QWidget* parent = nullptr);

    std::unique_ptr<AppCore> core_;
    QSystemTrayIcon* tray_ = nullptr;
    bool trayUp_ = false;  // the desktop's tray, as last seen

    QLabel* lblName_ = nullptr;
    QPushButton* btn_system_tray_ = nullptr;
    QLabel* picTray_ = nullptr;
    QLabel* lblBluetooth_ = nullptr;
    QTreeWidget* lvDevices_ = nullptr;
    QComboBox* cbServices_ = nullptr;
    QGroupBox* frameConnectTo_ = nullptr;
    QRadioButton* optTGC_ = nullptr;
    QRadioButton* optHalvexPlay_ = nullptr;
    QRadioButton* optOpenConnect_ = nullptr;
    QPushButton* btDiscover_ = nullptr;
    QPushButton* btConnect_ = nullptr;
    QPushButton* btDisconnect_ = nullptr;
    QLineEdit* edCommand_ = nullptr;
    QPushButton* btSend_ = nullptr;
    QPushButton* btGetRSSI_ = nullptr;
    QPushButton* btTestToTGC_ = nullptr;
    QPushButton* btTestToESI7_ = nullptr;
    QPushButton* btTestToES_ = nullptr;
    QPushButton* btHistory_ = nullptr;
    // Opened by a middle click on the notification icon.
    QMenu* trayMenu_ = nullptr;
    std::optional<Autostart> autostart_;
    QFrame* lines_[3] = {};
    QLabel* statusPictures_[3] = {};
    QLabel* onPictures_[3] = {};
    QLabel* offPictures_[3] = {};
    QLabel* icons_[3] = {};
    QLabel* lbl_message_ = nullptr;
    QLabel* lblData_ = nullptr;
    QPlainTextEdit* meAns_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    QPlainTextEdit* txt_status_ = nullptr;
};

}  // namespace taltrix::app
