#include "bridge/links/qt_device_list.h"

#include <QApplication>

namespace taltrix::links {

QtDeviceList::QtDeviceList(QTreeWidget& list) : list_(list) {
    QObject::connect(&list_, &QTreeWidget::itemSelectionChanged, &list_, [this] {
        if (selecting_ || !onUserSelected) return;
        const QList<QTreeWidgetItem*> chosen = list_.selectedItems();
        onUserSelected(chosen.isEmpty() ? -1 : list_.indexOfTopLevelItem(chosen.front()));
    });
}

void QtDeviceList::clearRows() {
    selecting_ = true;
    list_.clear();
    selecting_ = false;
}

void QtDeviceList::addRow(std::string_view address, std::string_view name) {
    auto* item = new QTreeWidgetItem(&list_);
    // Device texts are ANSI (Windows-1252 or plain ASCII for addresses).
    item->setText(0, QString::fromLatin1(address.data(), static_cast<qsizetype>(address.size())));
    item->setText(1, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
}

void QtDeviceList::selectRow(int row) {
    selecting_ = true;
    list_.clearSelection();
    if (QTreeWidgetItem* item = row >= 0 ? list_.topLevelItem(row) : nullptr) {
        item->setSelected(true);
        list_.setCurrentItem(item);
    }
    selecting_ = false;
}

QTreeWidget* findWindowDeviceList() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* list = top->findChild<QTreeWidget*>(QStringLiteral("lvDevices"))) return list;
    }
    return nullptr;
}

}  // namespace taltrix::links
