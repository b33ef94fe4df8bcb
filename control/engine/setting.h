// One configuration setting as the layer that owns it declares it.
//
// Each engine layer keeps a static table of its settings. A plain setting
// names the member that stores it; a setting with rules or side effects
// supplies its own read or write. The Config operation asks the tables from
// the top layer down, and the first layer that knows the name answers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "control/engine/ascii.h"
#include "control/engine/config_text.h"

namespace morvane {

enum class SettingAccess : std::uint8_t {
    ReadWrite,
    // Known to its layer only for reading: a write goes on to the layers below.
    ReadOnly,
    // Read-only, but a write is accepted and changes nothing.
    ReadOnlyIgnoringWrites,
    // Known to its layer only for writing: a read goes on to the layers below.
    WriteOnly,
};

template <class Layer>
struct Setting {
    std::string_view name;
    SettingAccess access = SettingAccess::ReadWrite;
    bool Layer::*boolean = nullptr;
    std::int32_t Layer::*integer = nullptr;
    std::int64_t Layer::*integer64 = nullptr;
    std::string Layer::*text = nullptr;
    // Take precedence over the member when given.
    std::string (*read)(Layer&) = nullptr;
    int (*write)(Layer&, std::string_view value) = nullptr;

    bool answersReads() const { return access != SettingAccess::WriteOnly; }
    bool answersWrites() const { return access != SettingAccess::ReadOnly; }
};

template <class Layer>
const Setting<Layer>* findSetting(std::span<const Setting<Layer>> table, std::string_view name) {
    for (const auto& setting : table) {
        if (equalsNoCase(setting.name, name)) return &setting;
    }
    return nullptr;
}

// Reads or writes one setting of the table. Returns no value when the table
// does not answer the request, else the setting's result code (0 = done).
template <class Layer>
std::optional<int> applySetting(std::span<const Setting<Layer>> table, Layer& layer, const ConfigText& request,
                                std::string& result) {
    const Setting<Layer>* setting = findSetting(table, request.name);
    if (setting == nullptr) return std::nullopt;

    if (!request.value) {
        if (!setting->answersReads()) return std::nullopt;
        if (setting->read)
            result = setting->read(layer);
        else if (setting->boolean)
            result = configBooleanText(layer.*(setting->boolean));
        else if (setting->integer)
            result = std::to_string(layer.*(setting->integer));
        else if (setting->integer64)
            result = std::to_string(layer.*(setting->integer64));
        else if (setting->text)
            result = layer.*(setting->text);
        return 0;
    }

    if (!setting->answersWrites()) return std::nullopt;
    if (setting->access == SettingAccess::ReadOnlyIgnoringWrites) return 0;
    const std::string_view value = *request.value;
    if (setting->write) return setting->write(layer, value);
    if (setting->boolean)
        layer.*(setting->boolean) = configBoolean(value);
    else if (setting->integer)
        layer.*(setting->integer) = configInteger32(value);
    else if (setting->integer64)
        layer.*(setting->integer64) = configInteger(value);
    else if (setting->text)
        layer.*(setting->text) = std::string(value);
    return 0;
}

}  // namespace morvane
