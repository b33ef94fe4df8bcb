#include "platform/com/registry.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

namespace com::registry {

namespace {

std::atomic<bool> perUser{false};
thread_local std::string lastFailure;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

}  // namespace

std::string hivePath(Scope scope) {
    if (scope == Scope::machine) {
        const std::string set = environment(kMachineHiveVariable);
        return set.empty() ? std::string(kDefaultMachineHive) : set;
    }
    const std::string set = environment(kUserHiveVariable);
    if (!set.empty()) return set;
    std::string config = environment("XDG_CONFIG_HOME");
    if (config.empty()) config = environment("HOME") + "/.config";
    return config + "/" + kUserHiveBelowConfig;
}

void setPerUserRegistration(bool on) { perUser = on; }

bool perUserRegistration() { return perUser; }

HRESULT loadHive(Scope scope, Hive& hive) {
    auto loaded = Hive::load(hivePath(scope), &lastFailure);
    if (!loaded) return REGDB_E_READREGDB;
    hive = std::move(*loaded);
    return S_OK;
}

HRESULT updateHive(Scope scope, const std::function<bool(Hive&)>& change) {
    return Hive::update(hivePath(scope), change, &lastFailure) ? S_OK : REGDB_E_WRITEREGDB;
}

std::string lastError() { return lastFailure; }

std::optional<ClassesRoot> ClassesRoot::load(HRESULT* hr) {
    ClassesRoot root;
    HRESULT result = loadHive(Scope::machine, root.machine_);
    if (SUCCEEDED(result)) result = loadHive(Scope::user, root.user_);
    if (hr) *hr = result;
    if (FAILED(result)) return std::nullopt;
    return root;
}

std::optional<Value> ClassesRoot::queryValue(std::string_view path, std::string_view name) const {
    if (auto value = user_.queryValue(path, name)) return value;
    return machine_.queryValue(path, name);
}

std::optional<std::string> ClassesRoot::queryString(std::string_view path, std::string_view name) const {
    auto value = queryValue(path, name);
    if (!value || value->type != Value::Type::string) return std::nullopt;
    return std::move(value->text);
}

bool ClassesRoot::keyExists(std::string_view path) const { return user_.keyExists(path) || machine_.keyExists(path); }

std::vector<std::string> ClassesRoot::enumKeys(std::string_view path) const {
    std::vector<std::string> names = user_.enumKeys(path);
    CaseInsensitiveLess less;
    for (auto& name : machine_.enumKeys(path)) {
        const bool known = std::any_of(names.begin(), names.end(),
                                       [&](const std::string& n) { return !less(n, name) && !less(name, n); });
        if (!known) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), less);
    return names;
}

std::optional<Scope> ClassesRoot::keyScope(std::string_view path) const {
    if (user_.keyExists(path)) return Scope::user;
    if (machine_.keyExists(path)) return Scope::machine;
    return std::nullopt;
}

}  // namespace com::registry
