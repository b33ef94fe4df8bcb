#include "bridge/app/program_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <tuple>

#include "bridge/app/test_support.h"

namespace taltrix::app {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> fakeEnvironment;

std::optional<std::string> lookUp(const char* name) {
    const auto it = fakeEnvironment.find(name);
    if (it == fakeEnvironment.end()) return std::nullopt;
    return it->second;
}

TEST(ProgramFolder, InstalledCopiesUseTheUsersDataHomeOthersTheirOwnFolder) {
    testing::TempFolder tree;
    const fs::path bin = tree.path() / "usr" / "bin";
    const fs::path copy = tree.path() / "portable";
    fs::create_directories(bin);
    fs::create_directories(copy);
    const fs::path marker = bin / installMarkerFromExecutable();
    fs::create_directories(marker.parent_path());
    std::ofstream(marker) << "installed\n";

    struct Row {
        std::optional<std::string> home;
        fs::path executableFolder;
        std::map<std::string, std::string> environment;
        std::string path;
        FolderKind kind;
    };
    const Row rows[] = {
        {std::nullopt, bin, {{"HOME", "/home/ann"}}, "/home/ann/.local/share/taltrix", FolderKind::perUser},
        {std::nullopt, bin, {{"HOME", "/root"}, {"XDG_DATA_HOME", "/data"}}, "/data/taltrix", FolderKind::perUser},
        // A relative data home is no data home.
        {std::nullopt, bin, {{"HOME", "/home/ann"}, {"XDG_DATA_HOME", "data"}}, "/home/ann/.local/share/taltrix",
         FolderKind::perUser},
        {std::nullopt, copy, {{"HOME", "/home/ann"}}, copy.string(), FolderKind::besideExe},
        {"/srv/bay1", bin, {{"HOME", "/home/ann"}}, "/srv/bay1", FolderKind::given},
        {"/srv/bay1", copy, {}, "/srv/bay1", FolderKind::given},
    };
    for (const Row& row : rows) {
        fakeEnvironment = row.environment;
        const ProgramFolder folder = chooseProgramFolder(row.home, row.executableFolder.string(), lookUp);
        EXPECT_EQ(folder.path, row.path) << row.executableFolder;
        EXPECT_EQ(folder.kind, row.kind) << row.executableFolder;
    }
}

TEST(ProgramFolder, BaseFoldersComeFromTheirVariableWhenAbsoluteElseFromTheHome) {
    const std::tuple<std::map<std::string, std::string>, std::string> rows[] = {
        {{{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "/cfg"}}, "/cfg"},
        {{{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "cfg"}}, "/home/ann/.config"},
        {{{"HOME", "/home/ann"}}, "/home/ann/.config"},
    };
    for (const auto& [environment, folder] : rows) {
        fakeEnvironment = environment;
        EXPECT_EQ(xdgBaseFolder("XDG_CONFIG_HOME", ".config", lookUp), folder);
    }
}

TEST(ProgramFolder, PrivateFolderAndItsMissingParentsAreMode700) {
    testing::TempFolder base;
    const fs::path folder = base.path() / "share" / "taltrix";
    ASSERT_EQ(createPrivateFolder(folder.string()), "");
    for (const fs::path& made : {folder, folder.parent_path()}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    EXPECT_EQ(createPrivateFolder(folder.string()), "");  // already there
    base.write("file", "");
    EXPECT_NE(createPrivateFolder(base.file("file")), "");
}

}  // namespace
}  // namespace taltrix::app
