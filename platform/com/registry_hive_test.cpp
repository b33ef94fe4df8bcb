#include "platform/com/registry_hive.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/com/testdata/widget_fixture.h"

namespace com::registry {
namespace {

TEST(RegistryHive, KeysAndValuesIgnoreCaseButKeepIt) {
    Hive hive;
    ASSERT_TRUE(hive.setString("CLSID\\{ABC}\\InprocServer32", "", "/lib/x.so"));
    ASSERT_TRUE(hive.setString("clsid\\{abc}\\InprocServer32", "ThreadingModel", "Apartment"));
    ASSERT_TRUE(hive.setDword("CLSID\\{ABC}", "Flags", 42));
    EXPECT_EQ(hive.queryString("Clsid\\{aBc}\\inprocserver32"), "/lib/x.so");
    EXPECT_EQ(hive.queryValue("CLSID\\{ABC}", "FLAGS"), Value::dword(42));
    EXPECT_EQ(hive.queryString("CLSID\\{ABC}", "Flags"), std::nullopt);  // not a string
    EXPECT_EQ(hive.enumKeys(""), std::vector<std::string>{"CLSID"});
    EXPECT_EQ(hive.enumKeys("CLSID"), std::vector<std::string>{"{ABC}"});
    EXPECT_TRUE(hive.deleteValue("CLSID\\{ABC}", "flags"));
    EXPECT_FALSE(hive.deleteValue("CLSID\\{ABC}", "flags"));
    EXPECT_TRUE(hive.deleteTree("clsid\\{ABC}"));
    EXPECT_FALSE(hive.keyExists("CLSID\\{ABC}\\InprocServer32"));
    EXPECT_TRUE(hive.keyExists("CLSID"));
    EXPECT_FALSE(hive.deleteTree("CLSID\\{ABC}"));
}

TEST(RegistryHive, RefusesBadPaths) {
    Hive hive;
    EXPECT_FALSE(hive.createKey("A\\\\B"));
    EXPECT_FALSE(hive.createKey("A\\"));
    EXPECT_FALSE(hive.createKey(std::string(256, 'x')));
    EXPECT_FALSE(hive.setString("A", "bad\nname", "v"));
    std::string deep = "k";
    for (int i = 0; i < 70; ++i) deep += "\\k";
    EXPECT_FALSE(hive.createKey(deep));
    EXPECT_TRUE(hive.enumKeys("").empty());
}

TEST(RegistryHive, TextFormRoundTripsEscapesAndEmptyKeys) {
    Hive hive;
    hive.setString("A\\B", "", "quote \" backslash \\ newline \n tab \t bell \x07 caf\xC3\xA9");
    hive.setString("A\\B", "Name With Spaces", "");
    hive.setDword("A\\B", "n", 0xDEADBEEF);
    hive.createKey("A\\Empty");
    const std::string text = hive.serialize();
    EXPECT_NE(text.find("[A\\B]\n@=\"quote \\\" backslash \\\\ newline \\n tab \\t bell \\x07 caf\xC3\xA9\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"n\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(text.find("[A\\Empty]\n"), std::string::npos);
    std::string error;
    auto back = Hive::parse(text, &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->serialize(), text);
    EXPECT_TRUE(back->keyExists("A\\Empty"));
}

TEST(RegistryHive, ParseErrorsNameTheLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"@=\"x\"\n", "line 1: value outside of any key"},
        {"[A]\n@=\"unterminated\n", "line 2: malformed string value"},
        {"; c\n[A\n", "line 2: key line without closing bracket"},
        {"[A]\n\"n\"=dword:123456789\n", "line 2: malformed dword"},
        {"[A]\n\"n\"=dword:xyz\n", "line 2: malformed dword"},
        {"[A]\nname=\"v\"\n", "line 2: malformed value name"},
        {"[A]\n@ \"v\"\n", "line 2: expected '='"},
        {"[A]\n@=\"v\" trailing\n", "line 2: text after the value"},
        {"[A]\n@=\"bad \\q escape\"\n", "line 2: malformed string value"},
        {"[]\n", "line 1: invalid key path"},
        {"[A\\\\B]\n", "line 1: invalid key path"},
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        EXPECT_FALSE(Hive::parse(text, &error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
    // Comments, blank lines, CRLF and spacing are fine.
    auto ok = Hive::parse("\r\n; comment\r\n  [A]  \r\n  @ = \"v\"  \r\n\"x\"=dword:1\r\n");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->queryString("A"), "v");
}

TEST(RegistryHive, SavesAtomicallyAndLoadsMissingFilesAsEmpty) {
    testing::TemporaryRegistry folder;
    const std::string file = folder.folder() + "/deep/er/hive.reg";
    auto empty = Hive::load(file);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->enumKeys("").empty());
    Hive hive;
    hive.setString("K", "v", "1");
    std::string error;
    ASSERT_TRUE(hive.save(file, &error)) << error;
    hive.setString("K", "v", "2");
    ASSERT_TRUE(hive.save(file, &error)) << error;
    auto loaded = Hive::load(file, &error);
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(loaded->queryString("K", "v"), "2");
    // Only the hive itself is left: the temporary files were renamed over it.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.folder() + "/deep/er")) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"hive.reg"});
    std::ofstream(file) << "[broken\n";
    EXPECT_FALSE(Hive::load(file, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
}

TEST(RegistryHive, ConcurrentUpdatesLoseNothing) {
    testing::TemporaryRegistry folder;
    const std::string file = folder.folder() + "/shared.reg";
    auto writer = [&](const std::string& prefix) {
        for (int i = 0; i < 25; ++i) {
            Hive::update(file, [&](Hive& hive) { return hive.createKey(prefix + std::to_string(i)); });
        }
    };
    std::thread a(writer, "a");
    std::thread b(writer, "b");
    a.join();
    b.join();
    auto hive = Hive::load(file);
    ASSERT_TRUE(hive);
    EXPECT_EQ(hive->enumKeys("").size(), 50u);
}

}  // namespace
}  // namespace com::registry
