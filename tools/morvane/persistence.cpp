#include "tools/morvane/persistence.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/com/persist.h"
#include "platform/text/code_page.h"

namespace morvane::cli {
namespace {

CallResult failed(HRESULT hr, const std::string& why) {
    CallResult result;
    result.hr = hr;
    result.description = codepage::utf8ToUtf16(why);
    return result;
}

// The platform's words for the failures a save or load can meet.
std::string explained(HRESULT hr, const std::string& path) {
    switch (hr) {
        case STG_E_FILENOTFOUND: return "\"" + path + "\" does not exist.";
        case STG_E_PATHNOTFOUND: return "The folder of \"" + path + "\" does not exist.";
        case STG_E_ACCESSDENIED: return "\"" + path + "\" cannot be opened.";
        case STG_E_INVALIDHEADER: return "\"" + path + "\" is not a saved Morvane control.";
        case STG_E_OLDDLL: return "\"" + path + "\" was saved by a newer version of the control.";
        case STG_E_DOCFILECORRUPT: return "\"" + path + "\" is damaged.";
        case E_UNEXPECTED: return "The control was already initialized.";
        default: return "";
    }
}

// The saved form holds the passwords: a file made for it is its owner's
// alone. One that exists keeps the permissions its owner gave it.
void createPrivately(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

template <class T>
com::ComPtr<T> persistence(IDispatch* control, CallResult& result) {
    com::ComPtr<T> persist;
    const HRESULT hr = control->QueryInterface(T::uuid, persist.putVoid());
    if (FAILED(hr)) result = failed(hr, "The control does not offer this persistence interface.");
    return persist;
}

CallResult outcome(HRESULT hr, const std::string& path) {
    return SUCCEEDED(hr) ? CallResult{} : failed(hr, explained(hr, path));
}

}  // namespace

CallResult saveToStreamFile(IDispatch* control, const std::string& path) {
    CallResult result;
    auto persist = persistence<IPersistStreamInit>(control, result);
    if (!persist) return result;
    createPrivately(path);
    com::ComPtr<IStream> stream;
    if (HRESULT hr = com::createStreamOnFile(path, STGM_CREATE | STGM_WRITE, stream.put()); FAILED(hr)) {
        return outcome(hr, path);
    }
    HRESULT hr = persist->Save(stream.get(), TRUE);
    if (SUCCEEDED(hr)) hr = stream->Commit(STGC_DEFAULT);
    return outcome(hr, path);
}

CallResult loadFromStreamFile(IDispatch* control, const std::string& path) {
    CallResult result;
    auto persist = persistence<IPersistStreamInit>(control, result);
    if (!persist) return result;
    com::ComPtr<IStream> stream;
    if (HRESULT hr = com::createStreamOnFile(path, STGM_READ, stream.put()); FAILED(hr)) return outcome(hr, path);
    return outcome(persist->Load(stream.get()), path);
}

CallResult saveToBagFile(IDispatch* control, const std::string& path) {
    CallResult result;
    auto persist = persistence<IPersistPropertyBag>(control, result);
    if (!persist) return result;
    auto bag = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
    if (HRESULT hr = persist->Save(bag.get(), TRUE, TRUE); FAILED(hr)) return outcome(hr, path);
    std::string text;
    if (HRESULT hr = bag->toText(text); FAILED(hr)) return failed(hr, "A saved value has no text form.");
    createPrivately(path);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) return failed(STG_E_WRITEFAULT, "Cannot write \"" + path + "\".");
    return result;
}

CallResult loadFromBagFile(IDispatch* control, const std::string& path) {
    CallResult result;
    auto persist = persistence<IPersistPropertyBag>(control, result);
    if (!persist) return result;
    std::ifstream file(path, std::ios::binary);
    if (!file) return failed(STG_E_FILENOTFOUND, "Cannot read \"" + path + "\".");
    std::ostringstream contents;
    contents << file.rdbuf();
    auto bag = com::ComPtr<com::MemoryPropertyBag>::attach(com::newMemoryPropertyBag());
    std::size_t badLine = 0;
    if (HRESULT hr = bag->fromText(contents.str(), &badLine); FAILED(hr)) {
        return failed(hr, "Line " + std::to_string(badLine) + " of \"" + path + "\" is not NAME=VALUE.");
    }
    // The log names each property whose value was refused.
    struct Log final : IErrorLog {
        std::string names;
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
        HRESULT AddError(LPCOLESTR name, EXCEPINFO*) override {
            names += (names.empty() ? "" : ", ") + codepage::utf16ToUtf8(name);
            return S_OK;
        }
    } log;
    const HRESULT hr = persist->Load(bag.get(), &log);
    if (FAILED(hr) && !log.names.empty()) return failed(hr, "Refused values in \"" + path + "\": " + log.names + ".");
    return outcome(hr, path);
}

}  // namespace morvane::cli
