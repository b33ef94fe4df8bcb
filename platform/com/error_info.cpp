#include "platform/com/error_info.h"

#include "platform/com/object.h"

namespace com {

namespace {

class ErrorInfo final : public Object<IErrorInfo, ICreateErrorInfo> {
public:
    HRESULT GetGUID(GUID* guid) override {
        if (guid == nullptr) return E_INVALIDARG;
        *guid = record_.iid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* source) override { return give(record_.source, source); }
    HRESULT GetDescription(BSTR* description) override { return give(record_.description, description); }
    HRESULT GetHelpFile(BSTR* helpFile) override { return give(record_.helpFile, helpFile); }
    HRESULT GetHelpContext(DWORD* helpContext) override {
        if (helpContext == nullptr) return E_INVALIDARG;
        *helpContext = record_.helpContext;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID guid) override {
        record_.iid = guid;
        return S_OK;
    }
    HRESULT SetSource(LPOLESTR source) override { return take(source, record_.source); }
    HRESULT SetDescription(LPOLESTR description) override { return take(description, record_.description); }
    HRESULT SetHelpFile(LPOLESTR helpFile) override { return take(helpFile, record_.helpFile); }
    HRESULT SetHelpContext(DWORD helpContext) override {
        record_.helpContext = helpContext;
        return S_OK;
    }

private:
    IUnknown* findInterface(REFIID iid) override {
        if (iid == IID_IErrorInfo) return static_cast<IErrorInfo*>(this);
        if (iid == IID_ICreateErrorInfo) return static_cast<ICreateErrorInfo*>(this);
        return nullptr;
    }

    static HRESULT give(const std::u16string& text, BSTR* out) {
        if (out == nullptr) return E_INVALIDARG;
        *out = allocBstr(text);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT take(LPOLESTR text, std::u16string& field) {
        field = text ? std::u16string(text) : std::u16string();
        return S_OK;
    }

    ErrorRecord record_;
};

// Released when the thread ends.
thread_local ComPtr<IErrorInfo> threadErrorInfo;

}  // namespace

HRESULT raiseError(HRESULT hr, const ErrorRecord& record) {
    ComPtr<ICreateErrorInfo> created;
    if (SUCCEEDED(CreateErrorInfo(created.put()))) {
        created->SetGUID(record.iid);
        std::u16string source = record.source;
        std::u16string description = record.description;
        std::u16string helpFile = record.helpFile;
        created->SetSource(source.data());
        created->SetDescription(description.data());
        created->SetHelpFile(helpFile.data());
        created->SetHelpContext(record.helpContext);
        if (auto info = created.as<IErrorInfo>()) SetErrorInfo(0, info.get());
    }
    return hr;
}

std::optional<ErrorRecord> takeErrorInfo() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info) return std::nullopt;
    ErrorRecord record;
    BStr text;
    info->GetGUID(&record.iid);
    if (SUCCEEDED(info->GetSource(text.put()))) record.source = text.view();
    if (SUCCEEDED(info->GetDescription(text.put()))) record.description = text.view();
    if (SUCCEEDED(info->GetHelpFile(text.put()))) record.helpFile = text.view();
    info->GetHelpContext(&record.helpContext);
    return record;
}

}  // namespace com

HRESULT CreateErrorInfo(ICreateErrorInfo** created) {
    return com::createObject<com::ErrorInfo>(nullptr, IID_ICreateErrorInfo, reinterpret_cast<void**>(created));
}

HRESULT SetErrorInfo(ULONG, IErrorInfo* info) {
    com::threadErrorInfo = com::ComPtr<IErrorInfo>(info);
    return S_OK;
}

HRESULT GetErrorInfo(ULONG, IErrorInfo** info) {
    if (info == nullptr) return E_INVALIDARG;
    *info = com::threadErrorInfo.detach();
    return *info ? S_OK : S_FALSE;
}
