#include "platform/com/connection_point.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/com/testdata/widget_fixture.h"

namespace com::testing {
namespace {

class ConnectionPointTest : public WidgetTest {
protected:
    void SetUp() override {
        WidgetTest::SetUp();
        widget_ = create();
        ASSERT_TRUE(widget_);
        auto container = widget_.as<IConnectionPointContainer>();
        ASSERT_TRUE(container);
        ASSERT_EQ(container->FindConnectionPoint(DIID_TestWidgetEvents, point_.put()), S_OK);
    }
    void TearDown() override {
        point_.reset();
        widget_.reset();
    }
    VARIANT_BOOL ping(std::u16string_view text) {
        BStr message(text);
        VARIANT_BOOL accepted = 0;
        EXPECT_EQ(widget_->Ping(message.get(), &accepted), S_OK);
        return accepted;
    }
    ComPtr<ITestWidget> widget_;
    ComPtr<IConnectionPoint> point_;
};

TEST_F(ConnectionPointTest, EventsReachSinksInConnectionOrderByReference) {
    EventSink first;
    EventSink second;
    std::vector<int> order;
    first.onPinged = [&](BSTR* text, VARIANT_BOOL*) {
        order.push_back(1);
        SysReAllocString(text, u"changed by first");  // a sink may replace a by-reference string
    };
    second.onPinged = [&](BSTR*, VARIANT_BOOL* accept) {
        order.push_back(2);
        *accept = VARIANT_TRUE;
    };
    DWORD cookie1 = 0;
    DWORD cookie2 = 0;
    ASSERT_EQ(point_->Advise(&first, &cookie1), S_OK);
    ASSERT_EQ(point_->Advise(&second, &cookie2), S_OK);
    EXPECT_NE(cookie1, 0u);
    EXPECT_NE(cookie1, cookie2);
    EXPECT_EQ(ping(u"hello"), VARIANT_TRUE);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(first.seen, std::vector<std::u16string>{u"hello"});
    EXPECT_EQ(second.seen, std::vector<std::u16string>{u"changed by first"});
    EXPECT_EQ(point_->Unadvise(cookie1), S_OK);
    EXPECT_EQ(point_->Unadvise(cookie1), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(first.references, 0u);
    ping(u"again");
    EXPECT_EQ(first.seen.size(), 1u);
    EXPECT_EQ(second.seen.size(), 2u);
    EXPECT_EQ(point_->Unadvise(cookie2), S_OK);
    EXPECT_EQ(ping(u"nobody"), VARIANT_FALSE);
}

TEST_F(ConnectionPointTest, ManySinksAllHearEveryEventInOrder) {
    // More sinks than the event keeps at hand.
    std::vector<std::unique_ptr<EventSink>> sinks;
    std::vector<DWORD> cookies(11);
    std::vector<int> order;
    for (int i = 0; i < 11; ++i) {
        sinks.push_back(std::make_unique<EventSink>());
        sinks.back()->onPinged = [&order, i](BSTR*, VARIANT_BOOL* accept) {
            order.push_back(i);
            *accept = i == 10 ? VARIANT_TRUE : VARIANT_FALSE;
        };
        ASSERT_EQ(point_->Advise(sinks.back().get(), &cookies[static_cast<std::size_t>(i)]), S_OK);
    }
    EXPECT_EQ(ping(u"all"), VARIANT_TRUE);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    for (const DWORD cookie : cookies) EXPECT_EQ(point_->Unadvise(cookie), S_OK);
    for (const auto& sink : sinks) EXPECT_EQ(sink->references, 0u);
}

TEST_F(ConnectionPointTest, SinkMayDisconnectItselfDuringTheEvent) {
    EventSink sink;
    DWORD cookie = 0;
    sink.onPinged = [&](BSTR*, VARIANT_BOOL*) { EXPECT_EQ(point_->Unadvise(cookie), S_OK); };
    ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
    ping(u"once");
    ping(u"twice");
    EXPECT_EQ(sink.seen.size(), 1u);
    EXPECT_EQ(sink.references, 0u);
}

// An event goes to the sinks connected when it began: one disconnected by
// an earlier sink still hears it (and is kept alive for it), a new one does not.
TEST_F(ConnectionPointTest, AnEventReachesTheSinksConnectedWhenItBegan) {
    EventSink first, second, late;
    DWORD firstCookie = 0, secondCookie = 0, lateCookie = 0;
    first.onPinged = [&](BSTR*, VARIANT_BOOL*) {
        if (first.seen.size() > 1) return;
        EXPECT_EQ(point_->Unadvise(secondCookie), S_OK);
        EXPECT_EQ(point_->Advise(&late, &lateCookie), S_OK);
    };
    ASSERT_EQ(point_->Advise(&first, &firstCookie), S_OK);
    ASSERT_EQ(point_->Advise(&second, &secondCookie), S_OK);
    ping(u"one");
    ping(u"two");
    EXPECT_EQ(first.seen.size(), 2u);
    EXPECT_EQ(second.seen.size(), 1u);
    EXPECT_EQ(late.seen.size(), 1u);
    EXPECT_EQ(second.references, 0u);
    EXPECT_EQ(first.references, 1u);
    EXPECT_EQ(point_->Unadvise(firstCookie), S_OK);
    EXPECT_EQ(point_->Unadvise(lateCookie), S_OK);
}

TEST_F(ConnectionPointTest, RefusesSinksWithoutTheEventInterface) {
    EventSink stranger;
    stranger.answerEvents = false;
    DWORD cookie = 5;
    EXPECT_EQ(point_->Advise(&stranger, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
    ComPtr<IConnectionPoint> other;
    auto container = widget_.as<IConnectionPointContainer>();
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, other.put()), CONNECT_E_NOCONNECTION);
}

TEST_F(ConnectionPointTest, EnumeratorsListPointsAndConnections) {
    EventSink a;
    EventSink b;
    DWORD cookies[2] = {};
    point_->Advise(&a, &cookies[0]);
    point_->Advise(&b, &cookies[1]);
    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
    CONNECTDATA data[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, cookies[0]);
    EXPECT_EQ(data[1].dwCookie, cookies[1]);
    EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(&a));
    for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
    ComPtr<IEnumConnections> clone;
    connections->Reset();
    EXPECT_EQ(connections->Skip(1), S_OK);
    ASSERT_EQ(connections->Clone(clone.put()), S_OK);
    EXPECT_EQ(clone->Next(1, data, nullptr), S_OK);
    EXPECT_EQ(data[0].dwCookie, cookies[1]);
    data[0].pUnk->Release();
    clone.reset();
    connections.reset();

    auto container = widget_.as<IConnectionPointContainer>();
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
    IConnectionPoint* found = nullptr;
    EXPECT_EQ(points->Next(1, &found, nullptr), S_OK);
    IID iid{};
    found->GetConnectionInterface(&iid);
    EXPECT_EQ(iid, DIID_TestWidgetEvents);
    ComPtr<IConnectionPointContainer> back;
    found->GetConnectionPointContainer(back.put());
    EXPECT_EQ(back.get(), container.get());
    found->Release();
    EXPECT_EQ(points->Next(1, &found, nullptr), S_FALSE);
    point_->Unadvise(cookies[0]);
    point_->Unadvise(cookies[1]);
    EXPECT_EQ(a.references + b.references, 0u);
}

TEST_F(ConnectionPointTest, SinksAreReleasedWithTheObject) {
    EventSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
    EXPECT_EQ(sink.references, 1u);
    point_.reset();
    widget_.reset();
    EXPECT_EQ(sink.references, 0u);
}

}  // namespace
}  // namespace com::testing
