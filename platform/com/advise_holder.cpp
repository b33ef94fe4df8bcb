#include "platform/com/advise_holder.h"

#include <algorithm>
#include <cstring>

#include "platform/com/creation.h"

namespace com {

HRESULT OleAdviseHolder::advise(IAdviseSink* sink, DWORD* connection) {
    if (connection) *connection = 0;
    if (sink == nullptr || connection == nullptr) return E_INVALIDARG;
    sinks_.emplace_back(nextConnection_, ComPtr<IAdviseSink>(sink));
    *connection = nextConnection_++;
    return S_OK;
}

HRESULT OleAdviseHolder::unadvise(DWORD connection) {
    const auto found =
        std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& entry) { return entry.first == connection; });
    if (found == sinks_.end()) return OLE_E_NOCONNECTION;
    // Released after the entry is gone: the sink's Release may call back in.
    ComPtr<IAdviseSink> sink = std::move(found->second);
    sinks_.erase(found);
    return S_OK;
}

HRESULT OleAdviseHolder::enumerate(IUnknown* owner, IEnumSTATDATA** out) const {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    // STATDATA's pointer does not own its sink, so the snapshot keeps a
    // reference of its own for as long as any enumerator uses it.
    struct Snapshot {
        std::vector<ComPtr<IAdviseSink>> sinks;
        std::vector<STATDATA> items;
    };
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->sinks = this->snapshot();
    for (const auto& [connection, sink] : sinks_) {
        STATDATA data{};
        data.formatetc.dwAspect = DVASPECT_CONTENT;
        data.formatetc.lindex = -1;
        data.pAdvSink = sink.get();
        data.dwConnection = connection;
        snapshot->items.push_back(data);
    }
    return StatDataEnumerator::create(std::shared_ptr<const std::vector<STATDATA>>(snapshot, &snapshot->items), owner,
                                      out);
}

std::vector<ComPtr<IAdviseSink>> OleAdviseHolder::snapshot() const {
    std::vector<ComPtr<IAdviseSink>> sinks;
    sinks.reserve(sinks_.size());
    for (const auto& entry : sinks_) sinks.push_back(entry.second);
    return sinks;
}

// Each notification goes to the sinks as they were when it started, so a
// sink that unadvises from inside its handler does not upset the others.
void OleAdviseHolder::sendOnSave() const {
    for (const auto& sink : snapshot()) sink->OnSave();
}

void OleAdviseHolder::sendOnClose() const {
    for (const auto& sink : snapshot()) sink->OnClose();
}

void OleAdviseHolder::sendOnRename(IMoniker* moniker) const {
    for (const auto& sink : snapshot()) sink->OnRename(moniker);
}

HRESULT StatDataTraits::copy(STATDATA& out, const STATDATA& in) {
    out = in;
    if (out.pAdvSink) out.pAdvSink->AddRef();
    return S_OK;
}

void StatDataTraits::clear(STATDATA& item) {
    if (item.pAdvSink) item.pAdvSink->Release();
    item.pAdvSink = nullptr;
}

HRESULT OleVerbTraits::copy(OLEVERB& out, const OLEVERB& in) {
    out = in;
    out.lpszVerbName = nullptr;
    if (in.lpszVerbName == nullptr) return S_OK;
    std::size_t length = 0;
    while (in.lpszVerbName[length] != 0) ++length;
    auto* name = static_cast<OLECHAR*>(CoTaskMemAlloc((length + 1) * sizeof(OLECHAR)));
    if (name == nullptr) return E_OUTOFMEMORY;
    std::memcpy(name, in.lpszVerbName, (length + 1) * sizeof(OLECHAR));
    out.lpszVerbName = name;
    return S_OK;
}

void OleVerbTraits::clear(OLEVERB& item) {
    CoTaskMemFree(item.lpszVerbName);
    item.lpszVerbName = nullptr;
}

}  // namespace com
