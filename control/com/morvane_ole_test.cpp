// The control as an embedded OLE object: the interfaces a container asks
// for (alone and aggregated), the design-time picture pixel by pixel, verbs,
// extents, advise sinks, in-place activation, quick activation and the about
// box between the container's modeless windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/com/morvane_drawing.h"
#include "control/com/morvane_engine_hook.h"
#include "control/com/morvane_test_support.h"
#include "platform/com/message_box.h"
#include "platform/com/ole_control.h"
#include "platform/com/persist.h"
#include "platform/com/storage.h"
#include "platform/draw/surface.h"

namespace morvane::testing {
namespace {

HRESULT canUnloadNow() {
    void* library = ::dlopen(MORVANE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr) return E_FAIL;
    auto function = reinterpret_cast<HRESULT (*)()>(::dlsym(library, "DllCanUnloadNow"));
    const HRESULT hr = function ? function() : E_FAIL;
    ::dlclose(library);
    return hr;
}

using ViewSink = com::testing::RecordingAdviseSink;

// A frame whose modeless windows the control may pause.
class Frame final : public IOleInPlaceFrame {
public:
    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOleInPlaceFrame) {
            *object = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT GetWindow(HWND*) override { return E_FAIL; }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT GetBorder(RECT*) override { return E_NOTIMPL; }
    HRESULT RequestBorderSpace(const BORDERWIDTHS*) override { return E_NOTIMPL; }
    HRESULT SetBorderSpace(const BORDERWIDTHS*) override { return E_NOTIMPL; }
    HRESULT SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return E_NOTIMPL; }
    HRESULT SetMenu(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    HRESULT RemoveMenus(HMENU) override { return E_NOTIMPL; }
    HRESULT SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT EnableModeless(BOOL enable) override {
        calls.push_back(enable ? "enable" : "disable");
        return S_OK;
    }
    HRESULT TranslateAccelerator(MSG*, WORD) override { return S_FALSE; }

    ULONG references = 0;
    std::vector<std::string> calls;
};

// A design-mode (or run-mode) site that supports in-place activation and
// records the calls the control makes on it.
class PlaceSite final : public IOleClientSite, public IOleInPlaceSite, public com::UntypedDispatch {
public:
    explicit PlaceSite(bool inUserMode) : userMode(inUserMode) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) {
            *object = static_cast<IOleInPlaceSite*>(this);
        } else if (riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT SaveObject() override { return S_OK; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    HRESULT ShowObject() override { return record("show"); }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT GetWindow(HWND*) override { return E_FAIL; }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT CanInPlaceActivate() override {
        calls.push_back("can");
        return canActivate ? S_OK : S_FALSE;
    }
    HRESULT OnInPlaceActivate() override { return record("activate"); }
    HRESULT OnUIActivate() override { return record("ui"); }
    HRESULT GetWindowContext(IOleInPlaceFrame** outFrame, IOleInPlaceUIWindow** document, RECT*, RECT*,
                             OLEINPLACEFRAMEINFO*) override {
        *document = nullptr;
        *outFrame = &frame;
        frame.AddRef();
        return S_OK;
    }
    HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT OnUIDeactivate(BOOL) override { return record("ui off"); }
    HRESULT OnInPlaceDeactivate() override { return record("deactivate"); }
    HRESULT DiscardUndoState() override { return S_OK; }
    HRESULT DeactivateAndUndo() override { return S_OK; }
    HRESULT OnPosRectChange(const RECT*) override { return S_OK; }
    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (member != DISPID_AMBIENT_USERMODE) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BOOL;
        result->boolVal = userMode ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }

    HRESULT record(const char* call) {
        calls.push_back(call);
        return S_OK;
    }

    bool userMode;
    bool canActivate = true;
    ULONG references = 0;
    std::vector<std::string> calls;
    Frame frame;
};

const IID* const embeddingInterfaces[] = {
    &IID_IOleObject,
    &IID_IViewObjectEx,
    &IID_IViewObject2,
    &IID_IViewObject,
    &IID_IOleWindow,
    &IID_IOleInPlaceObject,
    &IID_IOleInPlaceObjectWindowless,
    &IID_IOleInPlaceActiveObject,
    &IID_IOleControl,
    &IID_IQuickActivate,
};

class MorvaneOleTest : public ControlTest {
protected:
    void SetUp() override {
        ControlTest::SetUp();
        control_ = com::ComPtr<IDispatch>(create().get());
        ASSERT_TRUE(control_);
        ole_ = control_.as<IOleObject>();
        view_ = control_.as<IViewObjectEx>();
        ASSERT_TRUE(ole_ && view_);
    }
    void TearDown() override {
        if (ole_) ole_->SetClientSite(nullptr);
        if (view_) view_->SetAdvise(0, 0, nullptr);
    }

    // A surface of `size` in the background colour, drawn on in bounds.
    draw::Surface drawn(int width, int height, RECT bounds, IOleClientSite* site) {
        draw::Surface surface(width, height, background);
        ole_->SetClientSite(site);
        EXPECT_EQ(view_->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, draw::asHdc(surface), &bounds, nullptr,
                              nullptr, 0),
                  S_OK);
        ole_->SetClientSite(nullptr);
        return surface;
    }

    static constexpr draw::Argb background = draw::opaque(0x336699);
    // Outlive the control's references to them.
    com::testing::ContainerSite designSite_{false};
    PlaceSite placeSite_{false};
    com::ComPtr<IDispatch> control_;
    com::ComPtr<IOleObject> ole_;
    com::ComPtr<IViewObjectEx> view_;
};

TEST_F(MorvaneOleTest, EveryEmbeddingInterfaceHasTheControlsIdentity) {
    com::ComPtr<IUnknown> identity;
    ASSERT_EQ(control_->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
    for (const IID* iid : embeddingInterfaces) {
        com::ComPtr<IUnknown> found;
        ASSERT_EQ(control_->QueryInterface(*iid, found.putVoid()), S_OK) << com::formatGuid(*iid);
        com::ComPtr<IUnknown> back;
        ASSERT_EQ(found->QueryInterface(IID_IUnknown, back.putVoid()), S_OK);
        EXPECT_EQ(back.get(), identity.get()) << com::formatGuid(*iid);
        com::ComPtr<IDispatch> dispatch;
        EXPECT_EQ(found->QueryInterface(IID_IDispatch, dispatch.putVoid()), S_OK) << com::formatGuid(*iid);
    }
}

TEST_F(MorvaneOleTest, AggregatedEmbeddingInterfacesDelegateToTheOuterObject) {
    com::testing::AggregatingOuter outer;
    ASSERT_EQ(CoCreateInstance(CLSID_Morvane, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    for (const IID* iid : embeddingInterfaces) {
        com::ComPtr<IUnknown> found;
        ASSERT_EQ(outer.QueryInterface(*iid, found.putVoid()), S_OK) << com::formatGuid(*iid);
        EXPECT_EQ(outer.references, 2u) << com::formatGuid(*iid);
        com::ComPtr<IUnknown> identity;
        ASSERT_EQ(found->QueryInterface(IID_IUnknown, identity.putVoid()), S_OK);
        EXPECT_EQ(identity.get(), static_cast<IUnknown*>(&outer)) << com::formatGuid(*iid);
    }
    // Enumerators keep the aggregate, so the outer object, alive.
    {
        com::ComPtr<IOleObject> ole;
        ASSERT_EQ(outer.QueryInterface(IID_IOleObject, ole.putVoid()), S_OK);
        com::ComPtr<IEnumOLEVERB> verbs;
        ASSERT_EQ(ole->EnumVerbs(verbs.put()), S_OK);
        ole.reset();
        EXPECT_EQ(outer.references, 2u);
    }
    EXPECT_EQ(outer.references, 1u);
    outer.inner->Release();
    outer.inner = nullptr;
}

struct Pixel {
    int x;
    int y;
    draw::Argb colour;
};

void expectPixels(const draw::Surface& surface, const std::vector<Pixel>& pixels) {
    for (const Pixel& p : pixels) {
        EXPECT_EQ(surface.pixel(p.x, p.y), p.colour) << "(" << p.x << "," << p.y << ")";
    }
}

constexpr draw::Argb face = draw::buttonFace;
constexpr draw::Argb pin = draw::opaque(0x808080);
constexpr draw::Argb body = draw::opaque(0x008080);
constexpr draw::Argb cable = draw::opaque(0x000080);

TEST_F(MorvaneOleTest, DesignTimePictureIsFrameEdgeAndPlug) {
    auto& site = designSite_;
    // Bounds (2,3)-(34,35): the outline on x 2 and 33, y 3 and 34; the plug's
    // top-left at (8,10).
    const draw::Surface surface = drawn(40, 40, {2, 3, 34, 35}, &site);
    expectPixels(surface, {
                              {1, 3, background},
                              {2, 2, background},
                              {34, 35, background},  // outside
                              {2, 3, draw::black},
                              {33, 3, draw::black},
                              {2, 34, draw::black},
                              {33, 34, draw::black},
                              {3, 4, draw::buttonHighlight},
                              {31, 4, draw::buttonHighlight},
                              {3, 32, draw::buttonHighlight},
                              {32, 4, draw::buttonShadow},  // top-right: dark
                              {3, 33, draw::buttonShadow},  // bottom-left: dark
                              {32, 33, draw::buttonShadow},
                              {20, 30, face},
                              {8, 10, face},  // the bitmap's corner colour is left out
                              {9, 11, face},
                              {13, 11, pin},
                              {18, 13, pin},
                              {11, 14, draw::black},
                              {12, 15, body},
                              {15, 22, cable},
                              {17, 24, cable},
                              {23, 24, face},
                          });
}

TEST_F(MorvaneOleTest, TransparentBitmapPixelsShowWhatWasThere) {
    auto& site = designSite_;
    // A control smaller than its picture: the plug hangs over the frame and
    // past it, and its background leaves both visible.
    const draw::Surface surface = drawn(24, 24, {0, 0, 12, 12}, &site);
    expectPixels(surface, {
                              {16, 8, pin},          // pin outside the control
                              {17, 8, background},   // transparent pixel outside it
                              {6, 11, draw::black},  // transparent pixel over the outline
                              {11, 7, draw::black},  // likewise on the right
                              {10, 8, draw::buttonShadow},
                              {11, 8, pin},    // a pin over the outline
                              {10, 12, body},  // the body below the control
                              {14, 19, cable},
                          });
}

TEST(MorvaneDrawing, WithoutTheBitmapOnlyTheFrameIsDrawn) {
    draw::Surface surface(32, 32, draw::opaque(0x336699));
    drawDesignTime(surface, {0, 0, 32, 32}, nullptr);
    for (int y = 1; y < 31; ++y) {
        for (int x = 1; x < 31; ++x) {
            const draw::Argb colour = surface.pixel(x, y);
            EXPECT_TRUE(colour == face || colour == draw::buttonHighlight || colour == draw::buttonShadow)
                << x << "," << y;
        }
    }
    expectPixels(surface, {{0, 0, draw::black}, {31, 31, draw::black}, {11, 11, face}, {13, 8, face}});
    EXPECT_FALSE(loadBitmapResource(102));
    const auto bitmap = loadBitmapResource(toolboxBitmapId);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->width(), 16);
    EXPECT_EQ(bitmap->height(), 15);
}

TEST_F(MorvaneOleTest, NothingIsDrawnAtRunTime) {
    com::testing::ContainerSite runMode(true);
    com::testing::ContainerSite noAmbient(true);
    noAmbient.ambient = -1;
    for (IOleClientSite* site : {static_cast<IOleClientSite*>(&runMode), static_cast<IOleClientSite*>(&noAmbient),
                                 static_cast<IOleClientSite*>(nullptr)}) {
        const draw::Surface surface = drawn(20, 20, {0, 0, 20, 20}, site);
        for (draw::Argb colour : surface.pixels()) ASSERT_EQ(colour, background);
    }
}

TEST_F(MorvaneOleTest, DrawRefusesWhatItCannotDraw) {
    draw::Surface surface(4, 4);
    const RECT bounds{0, 0, 4, 4};
    const HDC hdc = draw::asHdc(surface);
    EXPECT_EQ(view_->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, hdc, &bounds, nullptr, nullptr, 0),
              DV_E_DVASPECT);
    EXPECT_EQ(view_->Draw(DVASPECT_CONTENT, 0, nullptr, nullptr, nullptr, hdc, &bounds, nullptr, nullptr, 0),
              DV_E_LINDEX);
    EXPECT_EQ(view_->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, nullptr, &bounds, nullptr, nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(view_->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, hdc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
}

TEST_F(MorvaneOleTest, ViewStatusAndHitsFollowTheDesignMode) {
    auto& site = designSite_;
    ole_->SetClientSite(&site);
    const RECT bounds{10, 10, 20, 20};
    struct Case {
        bool userMode;
        POINT at;
        DWORD hit;
    };
    for (const Case& c : {Case{false, {10, 10}, HITRESULT_HIT}, Case{false, {19, 19}, HITRESULT_HIT},
                          Case{false, {20, 15}, HITRESULT_OUTSIDE}, Case{false, {9, 15}, HITRESULT_OUTSIDE},
                          Case{true, {15, 15}, HITRESULT_OUTSIDE}}) {
        site.setUserMode(c.userMode);
        DWORD hit = 99;
        EXPECT_EQ(view_->QueryHitPoint(DVASPECT_CONTENT, &bounds, c.at, 0, &hit), S_OK);
        EXPECT_EQ(hit, c.hit) << c.at.x << "," << c.at.y << " user mode " << c.userMode;
    }
    DWORD hit = 99;
    const RECT overlapping{19, 19, 30, 30};
    const RECT apart{20, 0, 30, 30};
    site.setUserMode(false);
    EXPECT_EQ(view_->QueryHitRect(DVASPECT_CONTENT, &bounds, &overlapping, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_HIT);
    EXPECT_EQ(view_->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_OUTSIDE);
    EXPECT_EQ(view_->QueryHitPoint(DVASPECT_ICON, &bounds, {15, 15}, 0, &hit), DV_E_DVASPECT);

    DWORD status = 99;
    EXPECT_EQ(view_->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND);
    RECTL rect{};
    EXPECT_EQ(view_->GetRect(DVASPECT_OPAQUE, &rect), S_OK);
    EXPECT_EQ(rect.right, 847);
    site.setUserMode(true);
    EXPECT_EQ(view_->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(view_->GetRect(DVASPECT_OPAQUE, &rect), DV_E_DVASPECT);
    EXPECT_EQ(view_->GetRect(DVASPECT_CONTENT, &rect), S_OK);
    EXPECT_EQ(view_->GetRect(DVASPECT_TRANSPARENT, &rect), DV_E_DVASPECT);
}

TEST_F(MorvaneOleTest, ExtentsAreKeptInHimetricAndReportedToTheViewSink) {
    SIZEL size{};
    ASSERT_EQ(ole_->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, 847);  // 32 pixels
    EXPECT_EQ(size.cy, 847);
    ViewSink sink;
    ASSERT_EQ(view_->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    SIZEL wanted{2540, 1270};
    ASSERT_EQ(ole_->SetExtent(DVASPECT_CONTENT, &wanted), S_OK);
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"view 1 -1"}));
    SIZEL viewSize{};
    ASSERT_EQ(view_->GetExtent(DVASPECT_CONTENT, -1, nullptr, &viewSize), S_OK);
    EXPECT_EQ(viewSize.cx, 2540);
    EXPECT_EQ(viewSize.cy, 1270);
    com::ComPtr<IQuickActivate> quick = control_.as<IQuickActivate>();
    ASSERT_EQ(quick->GetContentExtent(&size), S_OK);
    EXPECT_EQ(size.cx, 2540);

    SIZEL negative{-1, 5};
    EXPECT_EQ(ole_->SetExtent(DVASPECT_CONTENT, &negative), E_INVALIDARG);
    EXPECT_EQ(ole_->SetExtent(DVASPECT_ICON, &wanted), DV_E_DVASPECT);
    EXPECT_EQ(ole_->GetExtent(DVASPECT_ICON, &size), DV_E_DVASPECT);
    EXPECT_EQ(view_->GetExtent(DVASPECT_CONTENT, 3, nullptr, &size), DV_E_LINDEX);

    DVEXTENTINFO info{sizeof(DVEXTENTINFO), DVEXTENT_CONTENT, {100, 100}};
    ASSERT_EQ(view_->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
    EXPECT_EQ(size.cx, 847);
    info.dwExtentMode = DVEXTENT_INTEGRAL;
    ASSERT_EQ(view_->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &size), S_OK);
    EXPECT_EQ(size.cx, 100);

    DWORD aspects = 0;
    DWORD advf = 9;
    com::ComPtr<IAdviseSink> current;
    ASSERT_EQ(view_->GetAdvise(&aspects, &advf, current.put()), S_OK);
    EXPECT_EQ(current.get(), static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(aspects, DVASPECT_CONTENT);
    EXPECT_EQ(advf, 0u);
    current.reset();
    ASSERT_EQ(view_->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST | ADVF_ONLYONCE, &sink), S_OK);
    EXPECT_EQ(sink.seen.size(), 2u);  // primed, and that was the only one
    EXPECT_EQ(sink.references, 0u);
    ASSERT_EQ(ole_->SetExtent(DVASPECT_CONTENT, &negative), E_INVALIDARG);
    EXPECT_EQ(sink.seen.size(), 2u);
}

TEST_F(MorvaneOleTest, AdviseSinksAreEnumeratedAndToldOfTheClose) {
    ViewSink first;
    ViewSink second;
    DWORD one = 0;
    DWORD two = 0;
    ASSERT_EQ(ole_->Advise(&first, &one), S_OK);
    ASSERT_EQ(ole_->Advise(&second, &two), S_OK);
    EXPECT_NE(one, 0u);
    EXPECT_NE(one, two);
    DWORD refused = 5;
    EXPECT_EQ(ole_->Advise(nullptr, &refused), E_INVALIDARG);
    EXPECT_EQ(refused, 0u);

    com::ComPtr<IEnumSTATDATA> all;
    ASSERT_EQ(ole_->EnumAdvise(all.put()), S_OK);
    STATDATA items[3]{};
    ULONG fetched = 0;
    EXPECT_EQ(all->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(items[0].pAdvSink, static_cast<IAdviseSink*>(&first));
    EXPECT_EQ(items[0].dwConnection, one);
    EXPECT_EQ(items[1].dwConnection, two);
    for (ULONG i = 0; i < fetched; ++i) items[i].pAdvSink->Release();

    EXPECT_EQ(all->Reset(), S_OK);
    EXPECT_EQ(all->Skip(1), S_OK);
    com::ComPtr<IEnumSTATDATA> copy;
    ASSERT_EQ(all->Clone(copy.put()), S_OK);
    EXPECT_EQ(copy->Next(1, items, nullptr), S_OK);  // the clone starts where the original was
    EXPECT_EQ(items[0].dwConnection, two);
    items[0].pAdvSink->Release();
    EXPECT_EQ(copy->Next(2, items, nullptr), E_INVALIDARG);
    EXPECT_EQ(all->Skip(5), S_FALSE);
    all.reset();
    copy.reset();

    EXPECT_EQ(ole_->Unadvise(two), S_OK);
    EXPECT_EQ(ole_->Unadvise(two), OLE_E_NOCONNECTION);
    EXPECT_EQ(second.references, 0u);
    // A save is announced to the sinks still advised.
    com::ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(control_->QueryInterface(IID_IPersistStreamInit, persist.putVoid()), S_OK);
    com::ComPtr<IStream> stream;
    ASSERT_EQ(com::createMemoryStream(stream.put()), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(ole_->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(first.seen, (std::vector<std::string>{"save", "close"}));
    EXPECT_TRUE(second.seen.empty());
    EXPECT_EQ(ole_->Close(7), E_INVALIDARG);
    EXPECT_EQ(ole_->Unadvise(one), S_OK);
    EXPECT_EQ(first.references, 0u);
}

TEST_F(MorvaneOleTest, VerbsAreListedWithTheirNames) {
    com::ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(ole_->EnumVerbs(verbs.put()), S_OK);
    std::vector<std::pair<LONG, std::u16string>> listed;
    OLEVERB verb{};
    ULONG fetched = 0;
    while (verbs->Next(1, &verb, &fetched) == S_OK) {
        ASSERT_EQ(fetched, 1u);
        listed.emplace_back(verb.lVerb, verb.lpszVerbName);
        if (verb.lVerb == OLEIVERB_PRIMARY) {
            EXPECT_TRUE(verb.grfAttribs & OLEVERBATTRIB_ONCONTAINERMENU);
        }
        CoTaskMemFree(verb.lpszVerbName);
    }
    EXPECT_EQ(fetched, 0u);
    const std::vector<std::pair<LONG, std::u16string>> expected = {{OLEIVERB_PRIMARY, u"&Activate"},
                                                                   {OLEIVERB_SHOW, u"&Show"},
                                                                   {OLEIVERB_INPLACEACTIVATE, u"Activate &in place"},
                                                                   {OLEIVERB_UIACTIVATE, u"Activate &user interface"},
                                                                   {OLEIVERB_HIDE, u"&Hide"}};
    EXPECT_EQ(listed, expected);
}

TEST_F(MorvaneOleTest, VerbsActivateInPlaceThroughTheSite) {
    auto& site = placeSite_;
    ASSERT_EQ(ole_->SetClientSite(&site), S_OK);
    const RECT position{1, 2, 3, 4};
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, &position), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_UIACTIVATE, nullptr, nullptr, 0, nullptr, &position), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, 0, nullptr, &position), S_OK);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_HIDE, nullptr, nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.calls, (std::vector<std::string>{"can", "activate", "ui", "show", "ui off", "deactivate"}));
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_OPEN, nullptr, nullptr, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PROPERTIES, nullptr, nullptr, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, nullptr, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(ole_->DoVerb(7, nullptr, nullptr, 0, nullptr, nullptr), OLEOBJ_S_INVALIDVERB);
    com::ComPtr<IOleInPlaceObject> inPlace = control_.as<IOleInPlaceObject>();
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    site.calls.clear();
    site.canActivate = false;
    EXPECT_EQ(ole_->DoVerb(OLEIVERB_PRIMARY, nullptr, nullptr, 0, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(site.calls, (std::vector<std::string>{"can"}));
}

TEST_F(MorvaneOleTest, WindowlessEntriesAnswerAsAWindowlessControl) {
    auto windowless = control_.as<IOleInPlaceObjectWindowless>();
    auto active = control_.as<IOleInPlaceActiveObject>();
    auto control = control_.as<IOleControl>();
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(windowless->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(active->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    LRESULT result = 5;
    EXPECT_EQ(windowless->OnWindowMessage(0x0201, 0, 0, &result), S_FALSE);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(windowless->ReactivateAndUndo(), INPLACE_E_NOTUNDOABLE);
    EXPECT_EQ(windowless->SetObjectRects(nullptr, nullptr), E_POINTER);
    const RECT position{0, 0, 10, 10};
    EXPECT_EQ(windowless->SetObjectRects(&position, nullptr), S_OK);
    EXPECT_EQ(active->TranslateAccelerator(nullptr), S_FALSE);
    EXPECT_EQ(active->EnableModeless(FALSE), S_OK);
    CONTROLINFO info{sizeof(CONTROLINFO), reinterpret_cast<HACCEL>(1), 9, 9};
    EXPECT_EQ(control->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cAccel, 0);
    EXPECT_EQ(info.hAccel, nullptr);

    ViewSink sink;
    ASSERT_EQ(view_->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"view 1 -1"}));
    ASSERT_EQ(view_->SetAdvise(0, 0, nullptr), S_OK);
    EXPECT_EQ(sink.references, 0u);
}

TEST_F(MorvaneOleTest, UserTypeMiscStatusAndHostNames) {
    struct Case {
        DWORD form;
        std::u16string text;
    };
    for (const Case& c : {Case{USERCLASSTYPE_FULL, u"QuillonWS Morvane WebSocket Control"},
                          Case{USERCLASSTYPE_SHORT, u"Morvane"}, Case{USERCLASSTYPE_APPNAME, u"QuillonWS"}}) {
        LPOLESTR text = nullptr;
        ASSERT_EQ(ole_->GetUserType(c.form, &text), S_OK);
        EXPECT_EQ(std::u16string(text), c.text);
        CoTaskMemFree(text);
    }
    LPOLESTR text = nullptr;
    EXPECT_EQ(ole_->GetUserType(9, &text), E_INVALIDARG);
    DWORD status = 0;
    ASSERT_EQ(ole_->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 132497u);
    ASSERT_EQ(ole_->GetMiscStatus(DVASPECT_ICON, &status), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(ole_->SetHostNames(u"Form designer", u"Form1"), S_OK);
    EXPECT_EQ(ole_->SetHostNames(nullptr, u"Form1"), E_INVALIDARG);
}

TEST_F(MorvaneOleTest, QuickActivationSitesAdvisesAndConnectsEvents) {
    auto& site = placeSite_;
    ViewSink viewSink;
    EventSink events;
    QACONTAINER container{};
    container.cbSize = sizeof(container);
    container.pClientSite = &site;
    container.pAdviseSink = &viewSink;
    container.pUnkEventSink = static_cast<IDispatch*>(&events);
    QACONTROL answer{};
    answer.cbSize = sizeof(answer);
    auto quick = control_.as<IQuickActivate>();
    ASSERT_EQ(quick->QuickActivate(&container, &answer), S_OK);
    EXPECT_EQ(answer.dwMiscStatus, 132497u);
    EXPECT_EQ(answer.dwViewStatus, VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND);
    EXPECT_NE(answer.dwEventCookie, 0u);
    com::ComPtr<IOleClientSite> current;
    ASSERT_EQ(ole_->GetClientSite(current.put()), S_OK);
    EXPECT_EQ(current.get(), static_cast<IOleClientSite*>(&site));
    current.reset();
    EXPECT_GT(events.references, 0u);
    com::ComPtr<IAdviseSink> advised;
    ASSERT_EQ(view_->GetAdvise(nullptr, nullptr, advised.put()), S_OK);
    EXPECT_EQ(advised.get(), static_cast<IAdviseSink*>(&viewSink));
    advised.reset();

    auto container2 = control_.as<IConnectionPointContainer>();
    com::ComPtr<IConnectionPoint> point;
    ASSERT_EQ(container2->FindConnectionPoint(DIID__IMorvaneEvents, point.put()), S_OK);
    EXPECT_EQ(point->Unadvise(answer.dwEventCookie), S_OK);
    EXPECT_EQ(events.references, 0u);

    QACONTAINER small = container;
    small.cbSize = 8;
    EXPECT_EQ(quick->QuickActivate(&small, &answer), E_INVALIDARG);
    view_->SetAdvise(0, 0, nullptr);
}

TEST_F(MorvaneOleTest, FrozenEventsAreDroppedUntilTheLastThaw) {
    EventSink sink;
    auto control = control_.as<IOleControl>();
    auto hook = control_.as<IMorvaneEngineHook>();
    {
        Advised advised(control_.get(), static_cast<IDispatch*>(&sink));
        struct Step {
            BOOL freeze;  // -1: no call, just fire
            std::size_t seenAfterFiring;
        };
        for (const Step& step :
             {Step{-1, 1}, Step{TRUE, 1}, Step{TRUE, 1}, Step{FALSE, 1}, Step{FALSE, 2}, Step{FALSE, 3}}) {
            if (step.freeze >= 0) {
                EXPECT_EQ(control->FreezeEvents(step.freeze), S_OK);
            }
            hook->engineEvents().readyToSend();
            EXPECT_EQ(sink.seen.size(), step.seenAfterFiring) << "after FreezeEvents(" << step.freeze << ")";
        }
    }
    EXPECT_EQ(sink.references, 0u);
}

std::vector<std::string>* boxCalls = nullptr;
Frame* boxFrame = nullptr;

void recordingMessageBox(const std::string& caption, const std::string& text) {
    boxCalls->push_back("box " + caption + " / " + text);
    // The frame's modeless windows are paused while the box is up.
    boxCalls->push_back("frame " + (boxFrame->calls.empty() ? std::string("-") : boxFrame->calls.back()));
}

TEST_F(MorvaneOleTest, AboutBoxShowsBetweenDisabledAndEnabledModelessDialogs) {
    auto& site = placeSite_;
    ASSERT_EQ(ole_->SetClientSite(&site), S_OK);
    std::vector<std::string> calls;
    boxCalls = &calls;
    boxFrame = &site.frame;
    const com::MessageBoxService before = com::setMessageBoxService(&recordingMessageBox);
    Client client(control_);
    const Outcome outcome = client.call(u"AboutBox");
    com::setMessageBoxService(before);
    EXPECT_EQ(outcome.hr, S_OK);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rfind("box QuillonWS Morvane WebSocket Control / Version 1.0", 0), 0u) << calls[0];
    EXPECT_EQ(calls[1], "frame disable");
    EXPECT_EQ(site.frame.calls, (std::vector<std::string>{"disable", "enable"}));
    EXPECT_EQ(site.frame.references, 0u);

    // Without an in-place site nothing is paused, and the box still shows.
    ASSERT_EQ(ole_->SetClientSite(&designSite_), S_OK);
    calls.clear();
    site.frame.calls.clear();
    com::setMessageBoxService(&recordingMessageBox);
    EXPECT_EQ(client.call(u"AboutBox").hr, S_OK);
    com::setMessageBoxService(before);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_TRUE(site.frame.calls.empty());
}

TEST_F(MorvaneOleTest, EnumeratorsAndSinksKeepTheLibraryUntilReleased) {
    ViewSink sink;
    DWORD connection = 0;
    ASSERT_EQ(ole_->Advise(&sink, &connection), S_OK);
    com::ComPtr<IEnumOLEVERB> verbs;
    com::ComPtr<IEnumSTATDATA> sinks;
    ASSERT_EQ(ole_->EnumVerbs(verbs.put()), S_OK);
    ASSERT_EQ(ole_->EnumAdvise(sinks.put()), S_OK);
    ole_.reset();
    view_.reset();
    control_.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);  // both enumerators hold the control
    verbs.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    EXPECT_GT(sink.references, 0u);  // advised, and in the snapshot
    sinks.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(sink.references, 0u);  // the dead control let go of it
}

}  // namespace
}  // namespace morvane::testing
