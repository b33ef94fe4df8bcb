#include "platform/com/guid.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace {

constexpr GUID kSample = com::makeGuid("{6B29FC40-CA47-1067-B31D-00DD010662DA}");

TEST(Guid, ParsesFieldsInTheirByteOrder) {
    EXPECT_EQ(kSample.Data1, 0x6B29FC40u);
    EXPECT_EQ(kSample.Data2, 0xCA47);
    EXPECT_EQ(kSample.Data3, 0x1067);
    EXPECT_EQ(kSample.Data4[0], 0xB3);
    EXPECT_EQ(kSample.Data4[7], 0xDA);
}

TEST(Guid, RoundTripsThroughTextInBothCasesAndWithoutBraces) {
    EXPECT_EQ(com::formatGuid(kSample), "{6B29FC40-CA47-1067-B31D-00DD010662DA}");
    EXPECT_EQ(com::parseGuid("{6b29fc40-ca47-1067-b31d-00dd010662da}"), kSample);
    EXPECT_EQ(com::parseGuid("6B29FC40-CA47-1067-B31D-00DD010662DA"), kSample);
    EXPECT_EQ(com::parseGuid(com::formatGuidWide(kSample)), kSample);
    OLECHAR buffer[39];
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 39), 39);
    CLSID back{};
    EXPECT_EQ(CLSIDFromString(buffer, &back), S_OK);
    EXPECT_EQ(back, kSample);
    EXPECT_EQ(StringFromGUID2(kSample, buffer, 38), 0);
}

TEST(Guid, RefusesMalformedText) {
    for (const char* bad : {"", "{}", "{6B29FC40-CA47-1067-B31D-00DD010662DA", "6B29FC40-CA47-1067-B31D-00DD010662DA}",
                            "{6B29FC40CA47-1067-B31D-00DD010662DA0}", "{6B29FC40-CA47-1067-B31D-00DD010662DG}",
                            " {6B29FC40-CA47-1067-B31D-00DD010662DA}", "{6B29FC40-CA47-1067-B31D-00DD010662DA}x",
                            "{+B29FC40-CA47-1067-B31D-00DD010662DA}"}) {
        EXPECT_FALSE(com::parseGuid(std::string_view(bad)).has_value()) << bad;
    }
    CLSID out{};
    EXPECT_EQ(CLSIDFromString(u"{6B29FC40-CA47-1067-B31D-00DD010662DA}tail", &out), CO_E_CLASSSTRING);
    EXPECT_EQ(IIDFromString(u"nonsense", &out), E_INVALIDARG);
    EXPECT_FALSE(com::parseGuid(u"{6B29FC40-CA47-1067-B31D-00DD010662D\u00C4}").has_value());
}

TEST(Guid, HashesDistinguishNeighbours) {
    std::unordered_set<GUID, com::GuidHash> set;
    GUID g = kSample;
    for (int i = 0; i < 100; ++i) {
        g.Data4[7] = static_cast<BYTE>(i);
        set.insert(g);
    }
    EXPECT_EQ(set.size(), 100u);
}

}  // namespace
