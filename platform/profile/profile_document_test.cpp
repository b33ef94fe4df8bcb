#include "platform/profile/profile_document.h"

#include <gtest/gtest.h>

namespace platform::profile {
namespace {

TEST(ProfileDocument, NamesMatchWithoutRegardToCaseIncludingWindows1252Letters) {
    EXPECT_TRUE(sameName("Sim_software", "SIM_SOFTWARE"));
    EXPECT_TRUE(sameName("\xC9t\xE9", "\xE9T\xC9"));  // Ete with acutes
    EXPECT_TRUE(sameName("\x8A", "\x9A"));            // S with caron
    EXPECT_TRUE(sameName("\x9F", "\xFF"));            // Y with diaeresis
    EXPECT_FALSE(sameName("\xD7", "\xF7"));           // multiply and divide are no pair
    EXPECT_FALSE(sameName("key", "keys"));
}

TEST(ProfileDocument, ReadsValuesWithBlanksAndOnePairOfQuotesRemoved) {
    const ProfileDocument doc(
        "; a comment = not a key\r\n"
        "orphan=before any section\r\n"
        "  [ Software ]  \r\n"
        "  Sim_software =  TGC  \r\n"
        "quoted=\"  spaced  \"\r\n"
        "single='x'\r\n"
        "mixed=\"x'\r\n"
        "noequals\r\n"
        "empty=\r\n");
    EXPECT_EQ(doc.value("software", "SIM_SOFTWARE"), "TGC");
    EXPECT_EQ(doc.value("Software", "quoted"), "  spaced  ");
    EXPECT_EQ(doc.value("Software", "single"), "x");
    EXPECT_EQ(doc.value("Software", "mixed"), "\"x'");
    EXPECT_EQ(doc.value("Software", "empty"), "");
    EXPECT_EQ(doc.value("Software", "noequals"), std::nullopt);
    EXPECT_EQ(doc.value("Software", "orphan"), std::nullopt);
    EXPECT_EQ(doc.value("Other", "Sim_software"), std::nullopt);
}

TEST(ProfileDocument, FirstSectionAndFirstKeyWin) {
    const ProfileDocument doc("[A]\nk=1\nk=2\n[a]\nk=3\nj=4\n");
    EXPECT_EQ(doc.value("A", "k"), "1");
    EXPECT_EQ(doc.value("A", "j"), std::nullopt);
    EXPECT_EQ(doc.sectionNames(), (std::vector<std::string>{"A"}));
    EXPECT_EQ(doc.keyNames("a"), (std::vector<std::string>{"k", "k"}));
}

TEST(ProfileDocument, ReplacingAValueKeepsEveryOtherByteAndTheStoredName) {
    const std::string before =
        "; top comment\n"
        "[Other]\r\n"
        "Key=other\r\n"
        "\r\n"
        "[Software]\n"
        "  SIM_SOFTWARE = HalvexPlay   \r\n"
        "Debug_mode=True";
    ProfileDocument doc(before);
    doc.setValue("software", "Sim_software", "TGC");
    EXPECT_EQ(doc.bytes(),
              "; top comment\n"
              "[Other]\r\n"
              "Key=other\r\n"
              "\r\n"
              "[Software]\n"
              "SIM_SOFTWARE=TGC\r\n"
              "Debug_mode=True");
}

TEST(ProfileDocument, NewKeyGoesAfterTheSectionsLastKeyBeforeBlankLines) {
    ProfileDocument doc("[Software]\r\nA=1\r\n\r\n[Next]\r\nB=2");
    doc.setValue("Software", "C", "3");
    doc.setValue("Next", "D", "4");
    EXPECT_EQ(doc.bytes(), "[Software]\r\nA=1\r\nC=3\r\n\r\n[Next]\r\nB=2\r\nD=4\r\n");
}

TEST(ProfileDocument, MissingSectionIsAddedAtTheEndWithCrLf) {
    ProfileDocument empty;
    empty.setValue("Software", "HalvexPlay_key", "");
    EXPECT_EQ(empty.bytes(), "[Software]\r\nHalvexPlay_key=\r\n");

    ProfileDocument unix("[Other]\nx=1");
    unix.setValue("Software", "k", "v");
    EXPECT_EQ(unix.bytes(), "[Other]\nx=1\r\n[Software]\r\nk=v\r\n");
}

TEST(ProfileDocument, RemovesKeysAndSections) {
    ProfileDocument doc("[A]\r\nk=1\r\nj=2\r\n[B]\r\nx=1\r\n");
    EXPECT_TRUE(doc.removeKey("a", "K"));
    EXPECT_FALSE(doc.removeKey("a", "K"));
    EXPECT_TRUE(doc.removeSection("b"));
    EXPECT_FALSE(doc.removeSection("b"));
    EXPECT_EQ(doc.bytes(), "[A]\r\nj=2\r\n");
}

TEST(ProfileDocument, KeepsLoneCrLineEndsAndBytesOutsideAscii) {
    const std::string bytes = std::string("[S]\rk=\x80\xFF\0z\r", 10);
    const ProfileDocument doc(bytes);
    EXPECT_EQ(doc.bytes(), bytes);
    EXPECT_EQ(doc.value("S", "k"), std::string("\x80\xFF\0z", 4));
}

}  // namespace
}  // namespace platform::profile
