// The notification icon's menu: what the window offers beyond the bridge
// itself. A right click on the icon keeps asking the
// quit question, as it always did; the menu opens on a middle click, and its
// last item asks the same question. The menu is made with the icon, which
// may come after the window when the tray's host starts late.
#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "bridge/app/fm_main.h"

namespace taltrix::app {

namespace {

constexpr const char* historyItem = "Shot history…";
constexpr const char* diagnosticsItem = "Diagnostics bundle…";
constexpr const char* autostartItem = "Start with the session";
constexpr const char* quitItem = "Stop the Interface…";

}  // namespace

void fmMain::buildTrayMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("trayMenu"));
    menu->addAction(QString::fromUtf8(historyItem), this, [this] {
        if (FeatureHooks* features = core_->features()) features->openHistory();
    });
    menu->addAction(QString::fromUtf8(diagnosticsItem), this, [this] {
        if (FeatureHooks* features = core_->features()) features->saveDiagnostics();
    });
    QAction* autostart = menu->addAction(QString::fromUtf8(autostartItem));
    autostart->setObjectName(QStringLiteral("autostartItem"));
    autostart->setCheckable(true);
    connect(menu, &QMenu::aboutToShow, this, [this, autostart] {
        autostart->setVisible(autostart_.has_value());
        autostart->setChecked(autostart_ && autostart_->isOn());
    });
    connect(autostart, &QAction::triggered, this, [this, autostart](bool on) {
        if (!autostart_) return;
        if (const std::string problem = autostart_->set(on); !problem.empty()) {
            core_->fn_show_status(problem);
        }
        autostart->setChecked(autostart_->isOn());
    });
    menu->addSeparator();
    menu->addAction(QString::fromUtf8(quitItem), this, [this] { core_->trayMouseMessage(trayRightButtonUp); });
    trayMenu_ = menu;
}

}  // namespace taltrix::app
