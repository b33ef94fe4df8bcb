#include "bridge/app/component_message_box.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include "platform/com/message_box.h"

namespace taltrix::app {
namespace {

void showQtMessageBox(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::Information, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    // Task-modal: the whole application waits for it.
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace

ComponentMessageBoxes::ComponentMessageBoxes() { com::setMessageBoxService(&showQtMessageBox); }

ComponentMessageBoxes::~ComponentMessageBoxes() { com::setMessageBoxService(nullptr); }

}  // namespace taltrix::app
