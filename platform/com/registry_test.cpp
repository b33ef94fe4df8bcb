#include "platform/com/registry.h"

#include <gtest/gtest.h>

#include "platform/com/testdata/widget_fixture.h"

namespace com::registry {
namespace {

TEST(Registry, LocationsComeFromTheEnvironment) {
    testing::TemporaryRegistry temporary;
    EXPECT_EQ(hivePath(Scope::machine), temporary.machineHive());
    EXPECT_EQ(hivePath(Scope::user), temporary.userHive());
    ::unsetenv(kMachineHiveVariable);
    ::unsetenv(kUserHiveVariable);
    EXPECT_EQ(hivePath(Scope::machine), "/var/lib/taltrix/com/classes.reg");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = config ? config : "";
    ::setenv("XDG_CONFIG_HOME", "/somewhere", 1);
    EXPECT_EQ(hivePath(Scope::user), "/somewhere/taltrix/com/classes.reg");
    if (config) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

TEST(Registry, ClassesRootPrefersTheUsersValues) {
    testing::TemporaryRegistry temporary;
    ASSERT_EQ(updateHive(Scope::machine,
                         [](Hive& h) {
                             h.setString("Widget\\CLSID", "", "{machine}");
                             h.setString("Widget", "", "machine description");
                             h.createKey("OnlyMachine");
                             return true;
                         }),
              S_OK);
    ASSERT_EQ(updateHive(Scope::user,
                         [](Hive& h) {
                             h.setString("widget\\clsid", "", "{user}");
                             h.createKey("OnlyUser");
                             return true;
                         }),
              S_OK);
    auto root = ClassesRoot::load();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->queryString("Widget\\CLSID"), "{user}");
    EXPECT_EQ(root->queryString("Widget"), "machine description");  // value by value
    EXPECT_EQ(root->enumKeys(""), (std::vector<std::string>{"OnlyMachine", "OnlyUser", "widget"}));
    EXPECT_EQ(root->keyScope("OnlyMachine"), Scope::machine);
    EXPECT_EQ(root->keyScope("Widget"), Scope::user);
    EXPECT_FALSE(root->keyScope("Nothing"));
}

TEST(Registry, UnreadableHiveIsAnError) {
    testing::TemporaryRegistry temporary;
    ASSERT_TRUE(Hive().save(temporary.userHive()));
    std::FILE* f = std::fopen(temporary.userHive().c_str(), "w");
    std::fputs("garbage\n", f);
    std::fclose(f);
    HRESULT hr = S_OK;
    EXPECT_FALSE(ClassesRoot::load(&hr));
    EXPECT_EQ(hr, REGDB_E_READREGDB);
    EXPECT_NE(lastError().find("line 1"), std::string::npos);
}

}  // namespace
}  // namespace com::registry
