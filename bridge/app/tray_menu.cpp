// The notification icon's menu and the History button: what the window
// offers beyond the bridge itself. A right click on the icon keeps asking the
// quit question, as it always did; the menu opens on a middle click, and its
// last item asks the same question.
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

#include "bridge/app/fm_main.h"

namespace taltrix::app {

namespace {

constexpr const char* historyItem = "Shot history…";
constexpr const char* diagnosticsItem = "Diagnostics bundle…";
constexpr const char* quitItem = "Stop the Interface…";

}  // namespace

void fmMain::buildTrayMenu() {
    connect(btHistory_, &QPushButton::clicked, this, [this] {
        if (FeatureHooks* features = core_->features()) features->openHistory();
    });
    if (tray_ == nullptr) return;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("trayMenu"));
    menu->addAction(QString::fromUtf8(historyItem), this, [this] {
        if (FeatureHooks* features = core_->features()) features->openHistory();
    });
    menu->addAction(QString::fromUtf8(diagnosticsItem), this, [this] {
        if (FeatureHooks* features = core_->features()) features->saveDiagnostics();
    });
    menu->addSeparator();
    menu->addAction(QString::fromUtf8(quitItem), this, [this] { core_->trayMouseMessage(trayRightButtonUp); });
    trayMenu_ = menu;
}

}  // namespace taltrix::app
