// The window's device list `lvDevices` as the Bluetooth link fills it.
#pragma once

#include <QTreeWidget>
#include <memory>

#include "bridge/links/link_shell.h"

namespace taltrix::links {

class QtDeviceList final : public DeviceListView {
public:
    explicit QtDeviceList(QTreeWidget& list);

    void clearRows() override;
    void addRow(std::string_view address, std::string_view name) override;
    void selectRow(int row) override;
    void focusList() override { list_.setFocus(); }

private:
    QTreeWidget& list_;
    bool selecting_ = false;
};

// The window's `lvDevices`, when this process has a window with one.
QTreeWidget* findWindowDeviceList();

}  // namespace taltrix::links
