// comreg as a real process against a registry in a temporary folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "platform/com/testdata/widget_fixture.h"

namespace com::testing {
namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

class ComregTest : public ::testing::Test {
protected:
    Outcome comreg(const std::string& arguments) {
        const std::string out = registry_.folder() + "/out";
        const std::string err = registry_.folder() + "/err";
        const std::string command = std::string(COMREG_PROGRAM) + " " + arguments + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read(out), read(err)};
    }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    TemporaryRegistry registry_;
};

TEST_F(ComregTest, RegistersListsAndUnregistersMachineWide) {
    Outcome run = comreg(std::string("register ") + TEST_WIDGET_LIBRARY);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Registered"), std::string::npos);
    EXPECT_NE(run.out.find("machine-wide"), std::string::npos);
    ComPtr<ITestWidget> widget;
    EXPECT_EQ(createInstance(kTestWidgetOtherProgId, widget), S_OK);

    run = comreg("list");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(formatGuid(CLSID_TestWidget) + " (machine) Taltrix test widget"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("ProgIDs: TaltrixTest.Widget.1 TaltrixTest.OtherWidget TaltrixTest.Widget"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(std::string("Library: ") + TEST_WIDGET_LIBRARY), std::string::npos);
    const std::string typeLibrary = "TypeLib " + formatGuid(LIBID_TestWidgetLib) + " 1.0 (machine) TestWidgetLib\n" +
                                    "    Locale 0, linux64: " + TEST_WIDGET_LIBRARY + "\n    Flags: 0\n    HelpDir: ";
    EXPECT_NE(run.out.find(typeLibrary), std::string::npos) << run.out;

    run = comreg(std::string("unregister ") + TEST_WIDGET_LIBRARY);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(comreg("list").out, "");
}

TEST_F(ComregTest, PerUserRegistrationStaysOutOfTheMachineHive) {
    Outcome run = comreg(std::string("register --user ") + TEST_WIDGET_LIBRARY);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("for the current user"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(registry_.machineHive()));
    const std::string listed = comreg("list").out;
    EXPECT_NE(listed.find(formatGuid(CLSID_TestWidget) + " (user)"), std::string::npos) << listed;
    EXPECT_NE(listed.find(formatGuid(LIBID_TestWidgetLib) + " 1.0 (user)"), std::string::npos) << listed;
    EXPECT_EQ(comreg(std::string("unregister ") + TEST_WIDGET_LIBRARY + " --user").status, 0);
}

TEST_F(ComregTest, ErrorsAreExplainedWithTheirExitStatus) {
    Outcome run = comreg("");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("no command given"), std::string::npos);
    EXPECT_EQ(comreg("frobnicate x").status, 2);
    EXPECT_EQ(comreg("register").status, 2);
    EXPECT_EQ(comreg("register --machine x").status, 2);
    EXPECT_EQ(comreg("register a b").status, 2);
    run = comreg("--help");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("TALTRIX_COM_USER_HIVE"), std::string::npos);

    run = comreg("register /nonexistent/libnothing.so");
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("cannot load /nonexistent/libnothing.so"), std::string::npos);
    // A library that is no component.
    run = comreg("register " + std::string(COMREG_PROGRAM).substr(0, 0) + "libc.so.6");
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("does not export DllRegisterServer"), std::string::npos);

    // The machine hive cannot be written: a folder stands where its file should be.
    std::filesystem::create_directories(registry_.machineHive());
    run = comreg(std::string("register ") + TEST_WIDGET_LIBRARY);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("0x80040151 (REGDB_E_WRITEREGDB)"), std::string::npos) << run.err;
    EXPECT_EQ(comreg("list").status, 4);
}

}  // namespace
}  // namespace com::testing
