#include "platform/com/error_info.h"

#include <gtest/gtest.h>

#include <thread>

namespace com {
namespace {

ErrorRecord sample() {
    ErrorRecord r;
    r.iid = makeGuid("{11111111-2222-3333-4444-555555555555}");
    r.source = u"Sample.Source";
    r.description = u"Value is out of range.";
    r.helpFile = u"sample.chm";
    r.helpContext = 22044;
    return r;
}

TEST(ErrorInfo, RaiseSetsTheThreadRecordAndTakingClearsIt) {
    SetErrorInfo(0, nullptr);
    const HRESULT code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 0x17C);
    EXPECT_EQ(raiseError(code, sample()), code);
    const auto record = takeErrorInfo();
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->iid, sample().iid);
    EXPECT_EQ(record->source, u"Sample.Source");
    EXPECT_EQ(record->description, u"Value is out of range.");
    EXPECT_EQ(record->helpFile, u"sample.chm");
    EXPECT_EQ(record->helpContext, 22044u);
    EXPECT_FALSE(takeErrorInfo().has_value());
    IErrorInfo* none = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
}

TEST(ErrorInfo, CreatedObjectAnswersBothInterfaces) {
    ComPtr<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.put()), S_OK);
    std::u16string text = u"described";
    created->SetDescription(text.data());
    created->SetDescription(nullptr);  // null is empty, not a crash
    auto info = created.as<IErrorInfo>();
    ASSERT_TRUE(info);
    BStr description;
    EXPECT_EQ(info->GetDescription(description.put()), S_OK);
    EXPECT_TRUE(description.empty());
    EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
    auto back = info.as<ICreateErrorInfo>();
    EXPECT_EQ(back.get(), created.get());
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    raiseError(E_FAIL, sample());
    bool otherSawOne = true;
    std::thread([&] { otherSawOne = takeErrorInfo().has_value(); }).join();
    EXPECT_FALSE(otherSawOne);
    EXPECT_TRUE(takeErrorInfo().has_value());
    // A record left on a thread that ends is released with it (the leak checker watches).
    std::thread([] { raiseError(E_FAIL, sample()); }).join();
}

}  // namespace
}  // namespace com
