#include "control/com/errors.h"

#include <gtest/gtest.h>

#include "control/engine/engine_context.h"

namespace morvane {
namespace {

TEST(ErrorsTest, EngineCodesBecomeAutomationErrors) {
    struct Case {
        int code;
        std::uint32_t hresult;
        int errorNumber;
    };
    const Case cases[] = {
        {104, 0x800A4E89, 20105},   {10035, 0x800A61CC, 25036}, {-1, 0x800A4E20, 20000},    {143, 0x800A4EB0, 20144},
        {10000, 0x800A7531, 30001}, {10001, 0x800A61AA, 25002}, {11001, 0x800A6592, 26002}, {4003, 0x800A5DC4, 24004},
    };
    for (const auto& c : cases) {
        const std::int32_t hresult = hresultFromCode(c.code);
        EXPECT_EQ(static_cast<std::uint32_t>(hresult), c.hresult) << c.code;
        EXPECT_EQ(automationErrorNumber(hresult), c.errorNumber) << c.code;
    }
    EXPECT_EQ(hresultFromCode(0), 0);
    EXPECT_EQ(static_cast<std::uint32_t>(hresultFromCode(200)), 0x800A0007u);
    // However large the code, the result stays an automation failure.
    for (int code : {60000, -30000, 2147483647}) {
        EXPECT_EQ(static_cast<std::uint32_t>(hresultFromCode(code)) & 0xFFFF0000u, 0x800A0000u) << code;
    }
}

TEST(ErrorsTest, HelpContextsFollowTheMember) {
    const std::pair<std::int32_t, std::uint32_t> propertyCases[] = {
        {1, 22001},  {21, 22021}, {44, 22044}, {46, 22046}, {47, 22001},
        {51, 22005}, {52, 32000}, {53, 32001}, {0, 0},      {54, 0},
    };
    for (const auto& [dispid, context] : propertyCases) EXPECT_EQ(propertyHelpContext(dispid), context) << dispid;
    const std::pair<std::int32_t, std::uint32_t> methodCases[] = {
        {502, 42001}, {503, 42002}, {511, 42010}, {-552, 0}, {512, 0},
    };
    for (const auto& [dispid, context] : methodCases) EXPECT_EQ(methodHelpContext(dispid), context) << dispid;
}

TEST(ErrorsTest, RaisedErrorTakesTheEnginesDescription) {
    struct Case {
        int code;
        std::string_view engineText;
        std::uint32_t hresult;
        std::string_view description;
        std::uint32_t helpContext;
    };
    const Case cases[] = {
        {151, "HTTP protocol error. 404 Not Found.", 0x800A4EB8, "HTTP protocol error. 404 Not Found.", 42004},
        {301, "Timeout.", 0x800A4F4E, "Timeout.", 42004},
        {301, "", 0x800A4F4E, "Interrupted.", 42004},
        {10054, "", 0x800A61DF, "[10054] Connection reset by peer", 42004},
        {143, "", 0x800A4EB0, "No description available.", 42004},
        {200, "Out of memory in DataIn [TCXMsg].", 0x800A0007, "Out of memory.", 0},
        {0, "ignored", 0, "", 0},
        // A setting refused for its value is the accessors' own range error.
        {380, "Value is out of range.", 0x800A017C, "Value is out of range.", 42004},
    };
    for (const auto& c : cases) {
        EngineContext engine;
        if (!c.engineText.empty()) engine.fail(c.code, c.engineText);
        const RaisedError raised = raisedEngineError(engine, c.code, 42004);
        EXPECT_EQ(static_cast<std::uint32_t>(raised.hresult), c.hresult) << c.code;
        EXPECT_EQ(raised.description, c.description) << c.code;
        EXPECT_EQ(raised.helpContext, c.helpContext) << c.code;
    }
}

}  // namespace
}  // namespace morvane
