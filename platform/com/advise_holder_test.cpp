// The advise holder and the snapshot enumerator on their own: cookies,
// notifications while sinks come and go, and an enumerator whose copy fails
// half-way through a Next.
#include "platform/com/advise_holder.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/com/test_objects.h"

namespace com {
namespace {

using Sink = testing::RecordingAdviseSink;

TEST(OleAdviseHolder, CookiesAreNeverReusedAndUnknownOnesAreRefused) {
    OleAdviseHolder holder;
    Sink sink;
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(holder.advise(&sink, &first), S_OK);
    ASSERT_EQ(holder.unadvise(first), S_OK);
    ASSERT_EQ(holder.advise(&sink, &second), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(holder.unadvise(first), OLE_E_NOCONNECTION);
    EXPECT_EQ(holder.unadvise(0), OLE_E_NOCONNECTION);
    EXPECT_EQ(sink.references, 1u);
    holder.clear();
    EXPECT_EQ(sink.references, 0u);
}

TEST(OleAdviseHolder, ASinkLeavingDuringOnCloseDoesNotUpsetTheOthers) {
    OleAdviseHolder holder;
    Sink first;
    Sink second;
    DWORD one = 0;
    DWORD two = 0;
    ASSERT_EQ(holder.advise(&first, &one), S_OK);
    ASSERT_EQ(holder.advise(&second, &two), S_OK);
    first.onClose = [&] {
        EXPECT_EQ(holder.unadvise(one), S_OK);
        EXPECT_EQ(holder.unadvise(two), S_OK);
    };
    holder.sendOnClose();
    EXPECT_EQ(first.seen, (std::vector<std::string>{"close"}));
    EXPECT_EQ(second.seen, (std::vector<std::string>{"close"}));  // told, as it was connected when it began
    EXPECT_EQ(holder.size(), 0u);
    EXPECT_EQ(first.references + second.references, 0u);
    holder.sendOnSave();
    EXPECT_EQ(first.seen.size(), 1u);
}

// Fails to copy the item whose connection is 3.
struct FailingTraits {
    static HRESULT copy(STATDATA& out, const STATDATA& in) {
        if (in.dwConnection == 3) return E_OUTOFMEMORY;
        return StatDataTraits::copy(out, in);
    }
    static void clear(STATDATA& item) { StatDataTraits::clear(item); }
};

TEST(Enumerator, AFailedCopyGivesBackWhatWasAlreadyCopied) {
    Sink sink;
    auto items = std::make_shared<std::vector<STATDATA>>();
    for (DWORD connection : {1u, 2u, 3u}) items->push_back(STATDATA{{}, 0, &sink, connection});
    ComPtr<IEnumSTATDATA> all;
    ASSERT_EQ((Enumerator<IEnumSTATDATA, FailingTraits>::create(items, nullptr, all.put())), S_OK);
    STATDATA out[3]{};
    ULONG fetched = 7;
    EXPECT_EQ(all->Next(3, out, &fetched), E_OUTOFMEMORY);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(sink.references, 0u);
    EXPECT_EQ(all->Next(2, out, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(sink.references, 2u);
    for (STATDATA& item : out) StatDataTraits::clear(item);
    EXPECT_EQ(all->Next(1, nullptr, nullptr), E_POINTER);
}

TEST(Enumerator, KeepsItsOwnerAliveAndAnswersOnlyItsInterface) {
    Sink owner;  // any counted IUnknown will do
    auto items = std::make_shared<const std::vector<OLEVERB>>();
    ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(OleVerbEnumerator::create(items, &owner, verbs.put()), S_OK);
    EXPECT_EQ(owner.references, 1u);
    ComPtr<IEnumOLEVERB> copy;
    ASSERT_EQ(verbs->Clone(copy.put()), S_OK);
    EXPECT_EQ(owner.references, 2u);
    ComPtr<IEnumSTATDATA> wrong;
    EXPECT_EQ(verbs->QueryInterface(IID_IEnumSTATDATA, wrong.putVoid()), E_NOINTERFACE);
    OLEVERB verb{};
    ULONG fetched = 9;
    EXPECT_EQ(verbs->Next(1, &verb, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(verbs->Skip(0), S_OK);
    verbs.reset();
    copy.reset();
    EXPECT_EQ(owner.references, 0u);
}

}  // namespace
}  // namespace com
