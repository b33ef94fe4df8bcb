#include "control/com/morvane_control.h"

#include "control/com/interface_description.h"
#include "control/com/morvane_type_library.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

constexpr std::u16string_view helpFileName = u"quillonws.chm";

EngineEnvironment platformEnvironment() {
    EngineEnvironment environment;
    environment.ansiCodePage = static_cast<int>(codepage::ansiCodePage());
    return environment;
}

std::u16string widened(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

std::optional<SHORT> indexArgument(const com::MemberDescription& member, com::InvokeArguments& args) {
    const bool put = member.kind == com::MemberKind::propertyPut;
    const std::size_t indexCount = member.params.size() - (put ? 1 : 0);
    if (indexCount == 0) return std::nullopt;
    return args[0].iVal;
}

}  // namespace

Morvane::Morvane() : engine_(platformEnvironment()) {
    addConnectionPoint(DIID__IMorvaneEvents);
    events_.emplace(*this, *connectionPoint(DIID__IMorvaneEvents));
    engine_.setEventSink(&*events_);
}

Morvane::~Morvane() {
    // The engine may still report while it shuts down; nobody is listening.
    engine_.setEventSink(nullptr);
}

IUnknown* Morvane::findInterface(REFIID iid) {
    if (iid == IID_IMorvane || iid == IID_IDispatch) return static_cast<IMorvane*>(this);
    if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (iid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    if (iid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (iid == IID_IViewObjectEx || iid == IID_IViewObject2 || iid == IID_IViewObject)
        return static_cast<IViewObjectEx*>(this);
    if (iid == IID_IOleInPlaceObjectWindowless || iid == IID_IOleInPlaceObject || iid == IID_IOleWindow)
        return static_cast<IOleInPlaceObjectWindowless*>(this);
    if (iid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (iid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (iid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
    if (iid == IID_IProvideClassInfo2 || iid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo2*>(this);
    if (IUnknown* persisted = persistence_.find(iid)) return persisted;
    if (iid == IID_IMorvaneEngineHook) return static_cast<IMorvaneEngineHook*>(this);
    return nullptr;
}

const com::InterfaceDescription& Morvane::dispatchType() const { return morvaneDispatchType(); }

HRESULT Morvane::invokeMember(const com::MemberDescription& member, com::InvokeArguments& args) {
    switch (member.kind) {
        case com::MemberKind::propertyGet: return getProperty(member.id, indexArgument(member, args), &args.result());
        case com::MemberKind::propertyPut:
        case com::MemberKind::propertyPutRef:
            return putProperty(member.id, indexArgument(member, args), args[args.size() - 1]);
        case com::MemberKind::method: break;
    }
    switch (member.id) {
        case DISPID_ABOUTBOX: return AboutBox();
        case DISPID_MORVANE_ONSTARTPAGE: return OnStartPage(args[0].punkVal);
        case DISPID_MORVANE_ONENDPAGE: return OnEndPage();
        case DISPID_MORVANE_CONFIG: {
            VARIANT& result = args.result();
            result.vt = VT_BSTR;
            result.bstrVal = nullptr;
            return Config(args[0].bstrVal, &result.bstrVal);
        }
        default: break;
    }
    BSTR first = args.size() > 0 ? args[0].bstrVal : nullptr;
    BSTR second = args.size() > 1 ? args[1].bstrVal : nullptr;
    return callMethod(member.id, first, second);
}

HRESULT Morvane::InterfaceSupportsErrorInfo(REFIID riid) { return riid == IID_IMorvane ? S_OK : S_FALSE; }

HRESULT Morvane::raise(const AccessorError& error, DWORD helpContext) {
    com::ErrorRecord record;
    record.iid = IID_IMorvane;
    record.source = com::formatGuidWide(CLSID_Morvane);
    record.description = widened(error.description);
    if (helpContext != 0) record.helpFile = helpFileName;
    record.helpContext = helpContext;
    return com::raiseError(error.hresult, record);
}

HRESULT Morvane::raiseEngineCode(int code, DWORD helpContext) {
    if (code == 0) return S_OK;
    // A description left by an earlier failure does not describe this one.
    if (engine_.lastErrorCode() != code) engine_.clearLastError();
    const RaisedError raised = raisedEngineError(engine_.context(), code, helpContext);
    com::ErrorRecord record;
    record.iid = IID_IMorvane;
    record.source = com::formatGuidWide(CLSID_Morvane);
    record.description =
        codepage::multiByteToWide(static_cast<unsigned>(engine_.effectiveCodePage()), raised.description).text;
    if (raised.helpContext != 0) record.helpFile = helpFileName;
    record.helpContext = raised.helpContext;
    return com::raiseError(raised.hresult, record);
}

HRESULT Morvane::raiseOutOfMemory() {
    com::ErrorRecord record;
    record.iid = IID_IMorvane;
    record.source = com::formatGuidWide(CLSID_Morvane);
    record.description = widened(errtext::outOfMemory);
    return com::raiseError(hresultOutOfMemory, record);
}

bool Morvane::designMode() const { return !com::ambientUserMode(site_.get()); }

std::string Morvane::engineText(BSTR text, com::BstrExtent extent) const {
    return com::multiByteFromBstr(text, static_cast<unsigned>(engine_.effectiveCodePage()), extent);
}

BSTR Morvane::callerText(std::string_view text) const {
    // An unknown code page reads as nothing rather than failing every getter.
    const codepage::WideResult wide =
        codepage::multiByteToWide(static_cast<unsigned>(engine_.effectiveCodePage()), text);
    BSTR result = com::allocBstr(wide.text);
    if (result == nullptr) throw std::bad_alloc();
    return result;
}

}  // namespace morvane
