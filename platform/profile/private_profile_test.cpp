#include "platform/profile/private_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace platform::profile {
namespace {

namespace fs = std::filesystem;

class PrivateProfile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "profile.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        file_ = (dir_ / "Settings.pgs").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string read(const char* section, const char* key, const char* fallback = "", std::uint32_t size = 255,
                     std::uint32_t* count = nullptr) {
        std::string buffer(256, ' ');
        const std::uint32_t n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file_.c_str());
        if (count != nullptr) {
            *count = n;
        }
        return buffer.substr(0, n);
    }
    std::string contents() const {
        std::ifstream in(file_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void put(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }

    fs::path dir_;
    std::string file_;
};

TEST_F(PrivateProfile, MissingFileGivesTheDefaultWithTrailingBlanksRemoved) {
    std::uint32_t n = 99;
    EXPECT_EQ(read("Software", "Debug_mode", "False  ", 255, &n), "False");
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(read("Software", "Debug_mode", nullptr), "");
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(PrivateProfile, WriteCreatesFileAndSectionWithCrLf) {
    // What a crashed write of this process's pid left, readable by everyone.
    const std::string leftover = file_ + ".tmp" + std::to_string(::getpid());
    std::ofstream(leftover) << "stale";
    ::chmod(leftover.c_str(), 0644);
    ASSERT_NE(WritePrivateProfileStringA("Software", "Sim_software", "TGC", file_.c_str()), 0);
    ASSERT_NE(WritePrivateProfileStringA("Software", "BT_Connected_device", "ES16", file_.c_str()), 0);
    EXPECT_EQ(contents(), "[Software]\r\nSim_software=TGC\r\nBT_Connected_device=ES16\r\n");
    EXPECT_EQ(read("SOFTWARE", "sim_SOFTWARE"), "TGC");
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // a new file is its owner's alone
    EXPECT_FALSE(fs::exists(leftover));
}

TEST_F(PrivateProfile, WriteKeepsOtherSectionsKeysAndLines) {
    put("; written by hand\n[Display]\nColour=Blue\n\n[Software]\nsim_software=HalvexPlay\nExtra = 1\n");
    ASSERT_NE(WritePrivateProfileStringA("Software", "Sim_software", "TGC", file_.c_str()), 0);
    EXPECT_EQ(contents(), "; written by hand\n[Display]\nColour=Blue\n\n[Software]\nsim_software=TGC\nExtra = 1\n");
}

TEST_F(PrivateProfile, ValuesLongerThanTheBufferComeBackCut) {
    const std::string v255(255, 'k');
    ASSERT_NE(WritePrivateProfileStringA("Software", "HalvexPlay_key", v255.c_str(), file_.c_str()), 0);
    std::uint32_t n = 0;
    // The size counts the terminating NUL: 254 characters fit in 255.
    EXPECT_EQ(read("Software", "HalvexPlay_key", "", 255, &n), std::string(254, 'k'));
    EXPECT_EQ(n, 254u);
    EXPECT_EQ(read("Software", "HalvexPlay_key", "", 256), v255);
    EXPECT_EQ(read("Software", "HalvexPlay_key", "", 1), "");
    char none = 'x';
    EXPECT_EQ(GetPrivateProfileStringA("Software", "HalvexPlay_key", "", &none, 0, file_.c_str()), 0u);
    EXPECT_EQ(none, 'x');
}

TEST_F(PrivateProfile, NullNamesListSectionsAndKeys) {
    put("[One]\r\na=1\r\nbb=2\r\n[Two]\r\n");
    char buffer[32];
    // The count covers each name's NUL but not the list's final one.
    std::uint32_t n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, file_.c_str());
    EXPECT_EQ(std::string(buffer, n + 1), std::string("One\0Two\0\0", 9));
    n = GetPrivateProfileStringA("one", nullptr, "", buffer, sizeof buffer, file_.c_str());
    EXPECT_EQ(std::string(buffer, n + 1), std::string("a\0bb\0\0", 6));
    // A cut list ends in two NULs and reports size - 2.
    n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 7, file_.c_str());
    EXPECT_EQ(n, 5u);
    EXPECT_EQ(std::string(buffer, 7), std::string("One\0T\0\0", 7));
}

TEST_F(PrivateProfile, NullValueRemovesKeyAndNullKeyRemovesSection) {
    put("[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n");
    ASSERT_NE(WritePrivateProfileStringA("A", "k", nullptr, file_.c_str()), 0);
    ASSERT_NE(WritePrivateProfileStringA("B", nullptr, nullptr, file_.c_str()), 0);
    EXPECT_EQ(contents(), "[A]\r\nj=2\r\n");
}

TEST_F(PrivateProfile, RefusesTextThatWouldChangeTheFilesLines) {
    put("[A]\r\nk=1\r\n");
    EXPECT_EQ(WritePrivateProfileStringA("A", "k", "1\r\n[Injected]", file_.c_str()), 0);
    EXPECT_EQ(WritePrivateProfileStringA("A", "k=x", "1", file_.c_str()), 0);
    EXPECT_EQ(WritePrivateProfileStringA("A]", "k", "1", file_.c_str()), 0);
    EXPECT_EQ(WritePrivateProfileStringA(nullptr, "k", "1", file_.c_str()), 0);
    EXPECT_EQ(contents(), "[A]\r\nk=1\r\n");
}

TEST_F(PrivateProfile, WriteFailsWhenTheFolderIsMissingAndLeavesNoTemporaryFile) {
    const std::string missing = (dir_ / "no" / "Settings.pgs").string();
    EXPECT_EQ(WritePrivateProfileStringA("A", "k", "1", missing.c_str()), 0);
    put("[A]\r\n");
    ::chmod(file_.c_str(), 0640);
    ASSERT_NE(WritePrivateProfileStringA("A", "k", "1", file_.c_str()), 0);
    struct stat st {};
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the replaced file keeps its mode
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace platform::profile
