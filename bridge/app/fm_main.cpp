#include "bridge/app/fm_main.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include "bridge/app/display_text.h"
#include "bridge/app/window_pictures.h"

namespace taltrix::app {

namespace {

constexpr std::size_t lightIndex(Light light) { return static_cast<std::size_t>(light); }

constexpr Light allLights[] = {Light::tx, Light::rx, Light::bt};
constexpr WindowIcon allIcons[] = {WindowIcon::ico1, WindowIcon::ico2, WindowIcon::ico3};

// Names of each light's line, picture and source pictures, by Light.
struct LightNames {
    const char* line;
    const char* picture;
    const char* on;
    const char* off;
    const char* caption;  // the small caption under the line
};
constexpr LightNames lightNames[] = {
    {"ln_TX", "pic_ES_status", "picESon", "picESoff", "Sent"},
    {"ln_RX", "pic_HX_status", "picHXon", "picHXoff", "Received"},
    {"ln_BT", "pic_BT_status", "picBTon", "picBToff", "Bluetooth"},
};
constexpr const char* iconNames[] = {"ico1", "ico2", "ico3"};

const QStringList serviceEntries = {QStringLiteral("DialUp Networking"), QStringLiteral("Serial Port Profile")};

}  // namespace

template <typename W>
W* fmMain::make(const char* name, QWidget* parent) {
    auto* widget = new W(parent != nullptr ? parent : this);
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

fmMain::fmMain(Dialogs& dialogs, std::string programFolder) {
    setObjectName(QStringLiteral("fmMain"));
    buildControls();
    core_ = std::make_unique<AppCore>(*this, dialogs, std::move(programFolder));
    connectControls();
}

fmMain::~fmMain() = default;

void fmMain::buildControls() {
    setFixedSize(windowWidth, normalHeight);

    lblName_ = make<QLabel>("lblName");
    lblName_->setText(QStringLiteral("The Golf Club Simulator"));
    lblName_->setAlignment(Qt::AlignCenter);
    QFont nameFont = lblName_->font();
    nameFont.setPointSize(14);
    nameFont.setBold(true);
    lblName_->setFont(nameFont);
    lblName_->setGeometry(0, 4, windowWidth, 26);

    picTray_ = make<QLabel>("picTray");
    picTray_->setPixmap(trayPicture());
    picTray_->setGeometry(8, 5, 24, 24);
    picTray_->setToolTip(QStringLiteral("Hide in the system tray"));
    picTray_->installEventFilter(this);

    btn_system_tray_ = make<QPushButton>("btn_system_tray");
    btn_system_tray_->setIcon(QIcon(trayPicture()));
    btn_system_tray_->setToolTip(QStringLiteral("Hide in the system tray"));
    btn_system_tray_->setGeometry(windowWidth - 36, 4, 28, 26);

    lblBluetooth_ = make<QLabel>("lblBluetooth");
    lblBluetooth_->setText(QStringLiteral("Ernest Sports devices:"));
    lblBluetooth_->setGeometry(8, 34, 190, 18);

    lvDevices_ = make<QTreeWidget>("lvDevices");
    lvDevices_->setHeaderLabels({QStringLiteral("Address"), QStringLiteral("Bluetooth Device")});
    lvDevices_->setRootIsDecorated(false);
    lvDevices_->setUniformRowHeights(true);
    lvDevices_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvDevices_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    lvDevices_->header()->setStretchLastSection(true);
    lvDevices_->setGeometry(8, 54, 190, 84);

    cbServices_ = make<QComboBox>("cbServices");
    cbServices_->addItems(serviceEntries);
    cbServices_->setGeometry(8, 144, 190, 26);

    frameConnectTo_ = make<QGroupBox>("frameConnectTo");
    frameConnectTo_->setTitle(QStringLiteral("Connect to"));
    // Three simulators do not fit one row: the frame reaches up to the name
    // label and down to the buttons, for two rows.
    frameConnectTo_->setGeometry(206, 30, 226, 54);
    optTGC_ = make<QRadioButton>("optTGC", frameConnectTo_);
    optTGC_->setText(QStringLiteral("TGC"));
    optTGC_->setGeometry(12, 16, 70, 18);
    optHalvexPlay_ = make<QRadioButton>("optHalvexPlay", frameConnectTo_);
    optHalvexPlay_->setText(QStringLiteral("Halvex Play"));
    optHalvexPlay_->setGeometry(100, 16, 116, 18);
    optOpenConnect_ = make<QRadioButton>("optOpenConnect", frameConnectTo_);
    optOpenConnect_->setText(QStringLiteral("Open Connect"));
    optOpenConnect_->setGeometry(12, 34, 120, 18);

    btDiscover_ = make<QPushButton>("btDiscover");
    btDiscover_->setText(QStringLiteral("Discover"));
    btDiscover_->setGeometry(206, 86, 72, 26);
    btConnect_ = make<QPushButton>("btConnect");
    btConnect_->setText(QStringLiteral("Connect"));
    btConnect_->setGeometry(283, 86, 72, 26);
    btDisconnect_ = make<QPushButton>("btDisconnect");
    btDisconnect_->setText(QStringLiteral("Disconnect"));
    btDisconnect_->setGeometry(360, 86, 72, 26);

    edCommand_ = make<QLineEdit>("edCommand");
    edCommand_->setPlaceholderText(QStringLiteral("AT command"));
    edCommand_->setGeometry(206, 116, 130, 26);
    btSend_ = make<QPushButton>("btSend");
    btSend_->setText(QStringLiteral("Send"));
    btSend_->setGeometry(340, 116, 44, 26);
    btGetRSSI_ = make<QPushButton>("btGetRSSI");
    btGetRSSI_->setText(QStringLiteral("RSSI"));
    btGetRSSI_->setGeometry(388, 116, 44, 26);

    // Opens the History window (see tray_menu.cpp).
    btHistory_ = make<QPushButton>("btHistory");
    btHistory_->setText(QStringLiteral("History"));
    btHistory_->setToolTip(QStringLiteral("Shot history"));
    btHistory_->setGeometry(8, 4, 64, 26);

    // Test buttons of the original form; they stay hidden for good.
    btTestToTGC_ = make<QPushButton>("btTestToTGC");
    btTestToTGC_->setText(QStringLiteral("Test to TGC"));
    btTestToESI7_ = make<QPushButton>("btTestToESI7");
    btTestToESI7_->setText(QStringLiteral("Test to ES I7"));
    btTestToES_ = make<QPushButton>("btTestToES");
    btTestToES_->setText(QStringLiteral("Test to ES"));

    // The lights, from left to right: Bluetooth, received, sent.
    const int lightX[] = {362, 284, 206};
    for (const Light light : allLights) {
        const std::size_t i = lightIndex(light);
        const LightNames& names = lightNames[i];
        lines_[i] = make<QFrame>(names.line);
        lines_[i]->setAutoFillBackground(true);
        lines_[i]->setGeometry(lightX[i], 152, 70, 5);
        auto* caption = new QLabel(QString::fromLatin1(names.caption), this);
        QFont small = caption->font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        caption->setFont(small);
        caption->setAlignment(Qt::AlignCenter);
        caption->setGeometry(lightX[i], 158, 70, 14);

        onPictures_[i] = make<QLabel>(names.on);
        onPictures_[i]->setPixmap(lightPicture(light, true));
        onPictures_[i]->hide();
        offPictures_[i] = make<QLabel>(names.off);
        offPictures_[i]->setPixmap(lightPicture(light, false));
        offPictures_[i]->hide();
        statusPictures_[i] = make<QLabel>(names.picture);
        statusPictures_[i]->setGeometry(lightX[i] + 23, 124, 24, 24);
    }
    for (const WindowIcon icon : allIcons) {
        const auto i = static_cast<std::size_t>(icon);
        icons_[i] = make<QLabel>(iconNames[i]);
        icons_[i]->setPixmap(windowIconPixmap(icon, 32));
        icons_[i]->hide();
    }

    lbl_message_ = make<QLabel>("lbl_message");
    lbl_message_->setText(QStringLiteral("Message"));
    lbl_message_->setTextFormat(Qt::PlainText);
    lbl_message_->setWordWrap(true);
    lbl_message_->setFrameShape(QFrame::StyledPanel);
    lbl_message_->setFrameShadow(QFrame::Sunken);
    lbl_message_->setGeometry(8, 178, windowWidth - 16, 36);

    lblData_ = make<QLabel>("lblData");
    lblData_->setText(QStringLiteral("Data:"));
    lblData_->setGeometry(8, 222, 120, 18);
    meAns_ = make<QPlainTextEdit>("meAns");
    meAns_->setReadOnly(true);
    meAns_->setGeometry(8, 240, windowWidth - 16, 180);

    lblStatus_ = make<QLabel>("lblStatus");
    lblStatus_->setText(QStringLiteral("Status:"));
    lblStatus_->setGeometry(8, 426, 120, 18);
    txt_status_ = make<QPlainTextEdit>("txt_status");
    txt_status_->setReadOnly(true);
    txt_status_->setGeometry(8, 444, windowWidth - 16, 180);

    for (const Light light : allLights) {
        showLight(light, offColour, false);
    }
}

void fmMain::connectControls() {
    connect(btn_system_tray_, &QPushButton::clicked, this, [this] { core_->hideToTray(); });
    connect(optHalvexPlay_, &QRadioButton::clicked, this,
            [this](bool checked) { core_->optHalvexPlayClicked(checked); });
    connect(optTGC_, &QRadioButton::clicked, this, [this](bool checked) { core_->optTgcClicked(checked); });
    connect(optOpenConnect_, &QRadioButton::clicked, this,
            [this](bool checked) { core_->optOpenConnectClicked(checked); });
    connect(btDiscover_, &QPushButton::clicked, this, [this] { core_->hooks().discover(); });
    connect(btConnect_, &QPushButton::clicked, this, [this] { core_->hooks().connectDevice(); });
    connect(btDisconnect_, &QPushButton::clicked, this, [this] { core_->hooks().disconnectDevice(); });
    connect(btGetRSSI_, &QPushButton::clicked, this, [this] { core_->hooks().querySignalStrength(); });
    connect(btSend_, &QPushButton::clicked, this,
            [this] { core_->hooks().sendCommand(fromDisplay(edCommand_->text())); });

    connect(btHistory_, &QPushButton::clicked, this, [this] {
        if (FeatureHooks* features = core_->features()) features->openHistory();
    });
    trayUp_ = QSystemTrayIcon::isSystemTrayAvailable();
    if (trayUp_) {
        createTray();
    }
}

void fmMain::createTray() {
    tray_ = new QSystemTrayIcon(this);
    tray_->setObjectName(QStringLiteral("trayIcon"));
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            core_->trayMouseMessage(trayLeftButtonUp);
        } else if (reason == QSystemTrayIcon::Context) {
            core_->trayMouseMessage(trayRightButtonUp);
        } else if (reason == QSystemTrayIcon::MiddleClick && trayMenu_ != nullptr) {
            trayMenu_->popup(QCursor::pos());
        }
    });
    buildTrayMenu();
}

TrayChange fmMain::trayChange() {
    // Asked on every connection tick: the desktop's tray host may start after
    // us, or stop. Qt docks an existing icon again in a tray that comes back.
    const bool up = QSystemTrayIcon::isSystemTrayAvailable();
    if (up == trayUp_) return TrayChange::none;
    trayUp_ = up;
    if (!up) return TrayChange::vanished;
    if (tray_ == nullptr) createTray();
    return TrayChange::appeared;
}

bool fmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == picTray_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        core_->hideToTray();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void fmMain::closeEvent(QCloseEvent* event) {
    core_->queryUnload();
    core_->unload();
    event->accept();
    QCoreApplication::exit(0);
}

void fmMain::setMessageLabel(std::string_view text) { lbl_message_->setText(toDisplayLines(text)); }

void fmMain::setTraceText(std::string_view text) { txt_status_->setPlainText(toDisplayLines(text)); }

void fmMain::setRawDataText(std::string_view text) {
    meAns_->setPlainText(toDisplayLines(text));
    meAns_->moveCursor(QTextCursor::End);
}

void fmMain::showLight(Light light, Rgb lineColour, bool pictureOn) {
    const std::size_t i = lightIndex(light);
    QPalette palette = lines_[i]->palette();
    palette.setColor(QPalette::Window, QColor(lineColour.r, lineColour.g, lineColour.b));
    lines_[i]->setPalette(palette);
    statusPictures_[i]->setPixmap((pictureOn ? onPictures_[i] : offPictures_[i])->pixmap());
}

void fmMain::applySimulatorChoice(const SimulatorChoice& choice) {
    // Setting the buttons this way runs no click handler: the loader that
    // calls this is what those handlers run.
    optHalvexPlay_->setChecked(choice.relay);
    optOpenConnect_->setChecked(choice.openConnect);
    optTGC_->setChecked(!choice.relay && !choice.openConnect);
    lblName_->setText(toDisplay(choice.nameCaption));
    QFont font = lblName_->font();
    font.setItalic(choice.nameItalic);
    lblName_->setFont(font);
    setWindowTitle(toDisplay(choice.windowCaption));
}

bool fmMain::trayAvailable() const { return tray_ != nullptr && trayUp_; }

bool fmMain::trayIconShown() const { return tray_ != nullptr && tray_->isVisible(); }

void fmMain::deleteTrayIcon() {
    if (tray_ != nullptr) {
        tray_->hide();
    }
}

void fmMain::addTrayIcon(WindowIcon icon, std::string_view tip) {
    if (tray_ == nullptr) {
        return;
    }
    tray_->setIcon(taltrix::app::windowIcon(icon));
    tray_->setToolTip(toDisplay(tip));
    tray_->show();
}

void fmMain::setWindowIcon(WindowIcon icon) { QWidget::setWindowIcon(taltrix::app::windowIcon(icon)); }

void fmMain::applyStartLayout() {
    txt_status_->hide();
    setFixedSize(windowWidth, normalHeight);
    btTestToTGC_->hide();
    btTestToESI7_->hide();
    btTestToES_->hide();
    for (QLabel* picture : statusPictures_) {
        picture->hide();
    }
    picTray_->hide();
    btn_system_tray_->show();
    lblName_->resize(width(), lblName_->height());
}

void fmMain::applyDebugLayout(bool debug) {
    for (QWidget* w : std::initializer_list<QWidget*>{meAns_, txt_status_, lblStatus_, lblData_}) {
        w->setVisible(debug);
    }
    setFixedSize(windowWidth, debug ? debugHeight : normalHeight);
}

void fmMain::selectDefaultService() { cbServices_->setCurrentIndex(1); }

void fmMain::showNormal() {
    QWidget::showNormal();
    raise();
    activateWindow();
}

void fmMain::minimizeAndHide() {
    setWindowState(Qt::WindowMinimized);
    hide();
}

void fmMain::setBusyPointer(bool busy) {
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void fmMain::letEventsRun() { QCoreApplication::processEvents(); }

void fmMain::endProgram() { QCoreApplication::exit(0); }

}  // namespace taltrix::app
