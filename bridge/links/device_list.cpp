#include "bridge/links/device_list.h"

#include <array>
#include <cctype>

namespace taltrix::links {

namespace {

constexpr std::array<std::string_view, 4> ernestSportsNames = {"ES16", "ES14", "POEPIE", "PLASSIE"};

bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

}  // namespace

bool isErnestSportsDevice(std::string_view name) {
    for (const std::string_view part : ernestSportsNames) {
        if (name.find(part) != std::string_view::npos) return true;
    }
    return false;
}

bool beginsWithWholeWord(std::string_view name, std::string_view word) {
    if (word.empty() || name.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(word[i]))) {
            return false;
        }
    }
    return name.size() == word.size() || !isWordCharacter(name[word.size()]) || !isWordCharacter(word.back());
}

void DeviceList::clear() {
    rows_.clear();
    selected_ = -1;
    view_.clearRows();
}

void DeviceList::add(std::string address, std::string name) {
    view_.addRow(address, name);
    rows_.push_back({std::move(address), std::move(name)});
}

void DeviceList::selectRemembered(std::string_view remembered) {
    if (rows_.empty()) return;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (beginsWithWholeWord(rows_[i].name, remembered)) {
            select(static_cast<int>(i));
            return;
        }
    }
    select(0);
}

void DeviceList::select(int row) {
    selected_ = row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? row : -1;
    view_.selectRow(selected_);
}

void DeviceList::userSelected(int row) {
    selected_ = row >= 0 && static_cast<std::size_t>(row) < rows_.size() ? row : -1;
}

std::optional<DeviceRow> DeviceList::selected() const {
    if (selected_ < 0) return std::nullopt;
    return rows_[static_cast<std::size_t>(selected_)];
}

}  // namespace taltrix::links
