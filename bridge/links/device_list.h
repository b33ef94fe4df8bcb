// The launch monitors discovery found: which names are ours, and which row
// the remembered device is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/links/link_shell.h"

namespace taltrix::links {

// Ernest Sports devices carry one of these in their name.
bool isErnestSportsDevice(std::string_view name);

struct DeviceRow {
    std::string address;
    std::string name;
};

// The rows of `lvDevices`, kept here so that the links read the selection
// from one place whatever shows it.
class DeviceList {
public:
    explicit DeviceList(DeviceListView& view) : view_(view) {
        view_.onUserSelected = [this](int row) { userSelected(row); };
    }
    ~DeviceList() { view_.onUserSelected = nullptr; }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    void clear();
    void add(std::string address, std::string name);
    // Selects the first row whose name begins with `remembered` as a whole
    // word (as the list control's own find does: letter case aside), or the
    // first row when none does.
    void selectRemembered(std::string_view remembered);
    void select(int row);
    // The user picked a row in the list itself.
    void userSelected(int row);

    const std::vector<DeviceRow>& rows() const { return rows_; }
    std::optional<DeviceRow> selected() const;
    DeviceListView& view() { return view_; }

private:
    DeviceListView& view_;
    std::vector<DeviceRow> rows_;
    int selected_ = -1;
};

// Whether `name` begins with `word` as a whole word, letter case aside.
bool beginsWithWholeWord(std::string_view name, std::string_view word);

}  // namespace taltrix::links
