// Where the component registry lives, and the classes root as callers see it.
//
// Two hive files hold class registrations (the text format of
// registry_hive.h); each is what Windows keeps under Software\Classes of its
// root:
//   machine-wide  $TALTRIX_COM_MACHINE_HIVE, default /var/lib/taltrix/com/classes.reg
//   per-user      $TALTRIX_COM_USER_HIVE, default
//                 $XDG_CONFIG_HOME/taltrix/com/classes.reg (~/.config when unset)
// The classes root merges the two: a value under the per-user hive wins over
// the same value under the machine's, and keys of both are listed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/registry_hive.h"

namespace com::registry {

inline constexpr const char* kMachineHiveVariable = "TALTRIX_COM_MACHINE_HIVE";
inline constexpr const char* kUserHiveVariable = "TALTRIX_COM_USER_HIVE";
inline constexpr const char* kDefaultMachineHive = "/var/lib/taltrix/com/classes.reg";
inline constexpr const char* kUserHiveBelowConfig = "taltrix/com/classes.reg";

enum class Scope { machine, user };

// Read from the environment on every call, so tests can move the registry.
std::string hivePath(Scope scope);

// The per-user override of the classes root for registration (what
// RegOverridePredefKey does for a per-user DllRegisterServer): while on,
// registration helpers write to the user hive instead of the machine's.
void setPerUserRegistration(bool perUser);
bool perUserRegistration();
inline Scope registrationScope() { return perUserRegistration() ? Scope::user : Scope::machine; }

// Errors are REGDB_E_READREGDB / REGDB_E_WRITEREGDB with the reason kept for
// lastError().
HRESULT loadHive(Scope scope, Hive& hive);
HRESULT updateHive(Scope scope, const std::function<bool(Hive&)>& change);
// The reason of this thread's last failed load or update.
std::string lastError();

class ClassesRoot {
public:
    // Reads both hives; an unreadable hive file is an error.
    static std::optional<ClassesRoot> load(HRESULT* hr = nullptr);

    std::optional<Value> queryValue(std::string_view path, std::string_view name = {}) const;
    std::optional<std::string> queryString(std::string_view path, std::string_view name = {}) const;
    bool keyExists(std::string_view path) const;
    // The union of both hives' subkeys, per-user spelling first, sorted.
    std::vector<std::string> enumKeys(std::string_view path) const;
    // Which hive a key comes from (user when both have it).
    std::optional<Scope> keyScope(std::string_view path) const;

private:
    Hive machine_;
    Hive user_;
};

}  // namespace com::registry
