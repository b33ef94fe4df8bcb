#include "bridge/app/single_instance.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

class RuntimeDir {
public:
    explicit RuntimeDir(const std::string& path) {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) {
            old_ = old;
        }
        ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    }
    ~RuntimeDir() {
        if (old_) {
            ::setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
        } else {
            ::unsetenv("XDG_RUNTIME_DIR");
        }
    }

private:
    std::optional<std::string> old_;
};

TEST(SingleInstance, LockIsNamedAfterTheTitleInTheRuntimeFolder) {
    testing::TempFolder runtime;
    RuntimeDir env(runtime.path().string());
    EXPECT_EQ(SingleInstance::lockPathFor("TGC for Taltrix"), runtime.file("TGC for Taltrix.lock"));
    ::setenv("XDG_RUNTIME_DIR", "/nonexistent-runtime-dir", 1);
    EXPECT_EQ(SingleInstance::lockPathFor("T"), "/tmp/T-" + std::to_string(::getuid()) + ".lock");
}

TEST(SingleInstance, SecondHolderSeesTheFirstUntilItIsGone) {
    testing::TempFolder runtime;
    RuntimeDir env(runtime.path().string());
    auto first = std::make_unique<SingleInstance>("Taltrix test");
    EXPECT_FALSE(first->anotherInstanceRuns());
    EXPECT_FALSE(first->anotherInstanceRuns());  // asking again keeps the lock
    SingleInstance second("Taltrix test");
    EXPECT_TRUE(second.anotherInstanceRuns());
    SingleInstance otherTitle("Another title");
    EXPECT_FALSE(otherTitle.anotherInstanceRuns());
    first.reset();
    EXPECT_FALSE(second.anotherInstanceRuns());
}

}  // namespace
}  // namespace taltrix::app
