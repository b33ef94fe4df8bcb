// Components' message boxes become Qt message boxes while the application's
// service is installed, and go back to standard error after it.
#include "bridge/app/component_message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "platform/com/message_box.h"

namespace taltrix::app {
namespace {

void ensureGuiApplication() {
    if (QApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "component_message_box_test";
        static char* argv[] = {name, nullptr};
        static auto* app = new QApplication(argc, argv);  // never destroyed, as in the window tests
        (void)app;
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

TEST(ComponentMessageBoxes, ShowAQtBoxWhileInstalled) {
    ensureGuiApplication();
    QString title;
    QString text;
    bool modal = false;
    {
        const ComponentMessageBoxes installed;
        // The box is modal: it is read and closed from the event loop it runs.
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            title = box->windowTitle();
            text = box->text();
            modal = box->windowModality() == Qt::ApplicationModal;
            box->accept();
        });
        com::showMessageBox("About Morvane", "Version 1.0");
    }
    EXPECT_EQ(title, QString("About Morvane"));
    EXPECT_EQ(text, QString("Version 1.0"));
    EXPECT_TRUE(modal);
    // Removed again when the application's scope ends.
    EXPECT_EQ(com::setMessageBoxService(nullptr), nullptr);
}

}  // namespace
}  // namespace taltrix::app
