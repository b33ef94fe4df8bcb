// What an embedded object keeps of the IAdviseSink connections its container
// makes through IOleObject::Advise, and the notifications it sends them:
// saved, closed, renamed. Connections get cookies from 1 up, never reused.
#pragma once

#include <memory>
#include <vector>

#include "platform/com/enumerator.h"
#include "platform/com/ole_control.h"

namespace com {

class OleAdviseHolder {
public:
    HRESULT advise(IAdviseSink* sink, DWORD* connection);
    HRESULT unadvise(DWORD connection);
    // A snapshot enumerator of the connections (empty when there are none);
    // `owner` is kept alive while it lives.
    HRESULT enumerate(IUnknown* owner, IEnumSTATDATA** out) const;

    std::size_t size() const { return sinks_.size(); }
    void sendOnSave() const;
    void sendOnClose() const;
    void sendOnRename(IMoniker* moniker) const;
    // Lets go of every sink (after OnClose, or when the object dies).
    void clear() { sinks_.clear(); }

private:
    std::vector<ComPtr<IAdviseSink>> snapshot() const;

    std::vector<std::pair<DWORD, ComPtr<IAdviseSink>>> sinks_;
    DWORD nextConnection_ = 1;
};

// Hands out STATDATA with a reference on its sink, which the caller releases.
struct StatDataTraits {
    static HRESULT copy(STATDATA& out, const STATDATA& in);
    static void clear(STATDATA& item);
};

// Hands out OLEVERB with the name in a CoTaskMemAlloc'd copy the caller frees.
struct OleVerbTraits {
    static HRESULT copy(OLEVERB& out, const OLEVERB& in);
    static void clear(OLEVERB& item);
};

using StatDataEnumerator = Enumerator<IEnumSTATDATA, StatDataTraits>;
using OleVerbEnumerator = Enumerator<IEnumOLEVERB, OleVerbTraits>;

}  // namespace com
