#include "platform/com/storage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <new>

#include "platform/com/creation.h"
#include "platform/com/object.h"
#include "platform/text/code_page.h"

namespace com {
namespace {

// Far beyond anything a control saves; it keeps a seek to an absurd offset
// followed by a write from asking for that much memory.
constexpr ULONGLONG kMaxMemoryStreamSize = ULONGLONG{1} << 31;
constexpr std::size_t kMaxElementName = 31;

bool writableMode(DWORD mode) { return (mode & 3) == STGM_WRITE || (mode & 3) == STGM_READWRITE; }
bool readableMode(DWORD mode) { return (mode & 3) != STGM_WRITE; }

HRESULT copyName(const std::u16string& name, LPOLESTR* out) {
    *out = nullptr;
    auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
    if (copy == nullptr) return STG_E_INSUFFICIENTMEMORY;
    std::copy(name.begin(), name.end(), copy);
    copy[name.size()] = 0;
    *out = copy;
    return S_OK;
}

// Applies a seek to `position`: negative results are refused, as the
// contract asks; beyond the end is allowed.
HRESULT seekTo(ULONGLONG& position, ULONGLONG end, LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* result) {
    LONGLONG base = 0;
    switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position); break;
        case STREAM_SEEK_END: base = static_cast<LONGLONG>(end); break;
        default: return STG_E_INVALIDFUNCTION;
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(base, move.QuadPart, &target) || target < 0) return STG_E_INVALIDFUNCTION;
    position = static_cast<ULONGLONG>(target);
    if (result) result->QuadPart = position;
    return S_OK;
}

// CopyTo in chunks through the two streams' Read and Write, for any pair.
HRESULT copyBetween(IStream* source, IStream* target, ULONGLONG size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) {
    if (target == nullptr) return STG_E_INVALIDPOINTER;
    ULONGLONG totalRead = 0;
    ULONGLONG totalWritten = 0;
    HRESULT hr = S_OK;
    std::uint8_t chunk[4096];
    while (totalRead < size) {
        const ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(sizeof chunk, size - totalRead));
        ULONG got = 0;
        hr = source->Read(chunk, want, &got);
        if (FAILED(hr) || got == 0) break;
        totalRead += got;
        ULONG put = 0;
        hr = target->Write(chunk, got, &put);
        totalWritten += put;
        if (FAILED(hr)) break;
        if (put < got) {
            hr = STG_E_MEDIUMFULL;
            break;
        }
    }
    if (SUCCEEDED(hr)) hr = S_OK;
    if (read) read->QuadPart = totalRead;
    if (written) written->QuadPart = totalWritten;
    return hr;
}

using Bytes = std::vector<std::uint8_t>;

// What memory and file streams share: the position, the mode and the name,
// seeking and Stat over the size `Self` reports, CopyTo, Clone (a clone
// shares the `Store` and starts at the same position) and the region locks
// neither offers.
template <class Self, class Store>
class StreamBase : public Object<IStream> {
public:
    StreamBase(std::shared_ptr<Store> store, DWORD mode, std::u16string name)
        : store_(std::move(store)), mode_(mode), name_(std::move(name)) {}

    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        ULONGLONG end = 0;
        if (HRESULT hr = self().size(end); FAILED(hr)) return hr;
        return seekTo(position_, end, move, origin, position);
    }

    HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
        return copyBetween(this, target, size.QuadPart, read, written);
    }

    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT Stat(STATSTG* stat, DWORD flags) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        *stat = {};
        ULONGLONG end = 0;
        if (HRESULT hr = self().size(end); FAILED(hr)) return hr;
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = end;
        stat->grfMode = mode_;
        if (flags & STATFLAG_NONAME || name_.empty()) return S_OK;
        return copyName(name_, &stat->pwcsName);
    }

    HRESULT Clone(IStream** clone) override {
        if (clone == nullptr) return STG_E_INVALIDPOINTER;
        *clone = nullptr;
        auto* copy = new (std::nothrow) Self(store_, mode_, name_);
        if (copy == nullptr) return STG_E_INSUFFICIENTMEMORY;
        static_cast<StreamBase*>(copy)->position_ = position_;
        return copy->innerUnknown()->QueryInterface(IID_IStream, reinterpret_cast<void**>(clone));
    }

protected:
    const Self& self() const { return static_cast<const Self&>(*this); }

    std::shared_ptr<Store> store_;
    DWORD mode_;
    std::u16string name_;
    ULONGLONG position_ = 0;

private:
    IUnknown* findInterface(REFIID iid) override {
        if (iid == IID_IStream || iid == IID_ISequentialStream) return static_cast<IStream*>(this);
        return nullptr;
    }
};

class MemoryStream final : public StreamBase<MemoryStream, Bytes> {
public:
    using StreamBase::StreamBase;

    HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
        if (read) *read = 0;
        if (buffer == nullptr) return STG_E_INVALIDPOINTER;
        if (!readableMode(mode_)) return STG_E_ACCESSDENIED;
        const ULONGLONG available = position_ < store_->size() ? store_->size() - position_ : 0;
        const ULONG count = static_cast<ULONG>(std::min<ULONGLONG>(size, available));
        if (count) std::memcpy(buffer, store_->data() + position_, count);
        position_ += count;
        if (read) *read = count;
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
        if (written) *written = 0;
        if (buffer == nullptr) return STG_E_INVALIDPOINTER;
        if (!writableMode(mode_)) return STG_E_ACCESSDENIED;
        if (size == 0) return S_OK;
        const ULONGLONG end = position_ + size;
        if (end > kMaxMemoryStreamSize) return STG_E_MEDIUMFULL;
        try {
            if (end > store_->size()) store_->resize(end);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        std::memcpy(store_->data() + position_, buffer, size);
        position_ = end;
        if (written) *written = size;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writableMode(mode_)) return STG_E_ACCESSDENIED;
        if (size.QuadPart > kMaxMemoryStreamSize) return STG_E_MEDIUMFULL;
        try {
            store_->resize(size.QuadPart);
        } catch (const std::bad_alloc&) {
            return STG_E_MEDIUMFULL;
        }
        return S_OK;
    }

    // Direct mode: every write is already in place.
    HRESULT Commit(DWORD) override { return S_OK; }

    HRESULT size(ULONGLONG& end) const {
        end = store_->size();
        return S_OK;
    }
};

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { ::close(fd_); }
    int fd() const { return fd_; }

private:
    int fd_;
};

class FileStream final : public StreamBase<FileStream, FileHandle> {
public:
    using StreamBase::StreamBase;

    HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
        if (read) *read = 0;
        if (buffer == nullptr) return STG_E_INVALIDPOINTER;
        if (!readableMode(mode_)) return STG_E_ACCESSDENIED;
        ULONG total = 0;
        while (total < size) {
            const ssize_t got = ::pread(store_->fd(), static_cast<char*>(buffer) + total, size - total,
                                        static_cast<off_t>(position_ + total));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return STG_E_READFAULT;
            if (got == 0) break;
            total += static_cast<ULONG>(got);
        }
        position_ += total;
        if (read) *read = total;
        return S_OK;
    }

    HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
        if (written) *written = 0;
        if (buffer == nullptr) return STG_E_INVALIDPOINTER;
        if (!writableMode(mode_)) return STG_E_ACCESSDENIED;
        ULONG total = 0;
        while (total < size) {
            const ssize_t put = ::pwrite(store_->fd(), static_cast<const char*>(buffer) + total, size - total,
                                         static_cast<off_t>(position_ + total));
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) {
                position_ += total;
                if (written) *written = total;
                return errno == ENOSPC ? STG_E_MEDIUMFULL : STG_E_WRITEFAULT;
            }
            total += static_cast<ULONG>(put);
        }
        position_ += total;
        if (written) *written = total;
        return S_OK;
    }

    HRESULT SetSize(ULARGE_INTEGER size) override {
        if (!writableMode(mode_)) return STG_E_ACCESSDENIED;
        if (size.QuadPart > static_cast<ULONGLONG>(std::numeric_limits<off_t>::max())) return STG_E_MEDIUMFULL;
        if (::ftruncate(store_->fd(), static_cast<off_t>(size.QuadPart)) != 0) return STG_E_MEDIUMFULL;
        return S_OK;
    }

    HRESULT Commit(DWORD) override { return ::fsync(store_->fd()) == 0 ? S_OK : STG_E_WRITEFAULT; }

    HRESULT size(ULONGLONG& end) const {
        struct stat info {};
        if (::fstat(store_->fd(), &info) != 0) return STG_E_READFAULT;
        end = static_cast<ULONGLONG>(info.st_size);
        return S_OK;
    }
};

bool validElementName(const OLECHAR* name) {
    if (name == nullptr) return false;
    std::size_t length = 0;
    for (; name[length] != 0; ++length) {
        const OLECHAR c = name[length];
        if (c == u'\\' || c == u'/' || c == u':' || c == u'!') return false;
    }
    return length >= 1 && length <= kMaxElementName;
}

class MemoryStorage final : public Object<IStorage> {
public:
    HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** stream) override {
        if (stream == nullptr) return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        if (HRESULT hr = checkStreamMode(mode); FAILED(hr)) return hr;
        if (!validElementName(name)) return STG_E_INVALIDNAME;
        const std::u16string key(name);
        auto found = streams_.find(key);
        if (found != streams_.end() && !(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
        try {
            // A replaced stream's open handles keep the old bytes.
            auto bytes = std::make_shared<Bytes>();
            streams_[key] = bytes;
            return createObject<MemoryStream>(nullptr, IID_IStream, reinterpret_cast<void**>(stream), bytes, mode, key);
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD, IStream** stream) override {
        if (stream == nullptr) return STG_E_INVALIDPOINTER;
        *stream = nullptr;
        if (reserved1 != nullptr) return STG_E_INVALIDPARAMETER;
        if ((mode & STGM_CREATE) != 0) return STG_E_INVALIDFLAG;
        if (HRESULT hr = checkStreamMode(mode); FAILED(hr)) return hr;
        if (!validElementName(name)) return STG_E_INVALIDNAME;
        auto found = streams_.find(name);
        if (found == streams_.end()) return STG_E_FILENOTFOUND;
        try {
            return createObject<MemoryStream>(nullptr, IID_IStream, reinterpret_cast<void**>(stream), found->second,
                                              mode, found->first);
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
    }

    HRESULT CreateStorage(const OLECHAR*, DWORD, DWORD, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }
    HRESULT OpenStorage(const OLECHAR*, IStorage*, DWORD, SNB, DWORD, IStorage** storage) override {
        if (storage) *storage = nullptr;
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }
    HRESULT CopyTo(DWORD, const IID*, SNB, IStorage*) override { return STG_E_UNIMPLEMENTEDFUNCTION; }
    HRESULT MoveElementTo(const OLECHAR*, IStorage*, const OLECHAR*, DWORD) override {
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** elements) override {
        if (elements) *elements = nullptr;
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }

    HRESULT DestroyElement(const OLECHAR* name) override {
        if (!validElementName(name)) return STG_E_INVALIDNAME;
        return streams_.erase(name) ? S_OK : STG_E_FILENOTFOUND;
    }

    HRESULT RenameElement(const OLECHAR* oldName, const OLECHAR* newName) override {
        if (!validElementName(oldName) || !validElementName(newName)) return STG_E_INVALIDNAME;
        auto found = streams_.find(oldName);
        if (found == streams_.end()) return STG_E_FILENOTFOUND;
        if (streams_.count(newName)) return STG_E_FILEALREADYEXISTS;
        try {
            auto bytes = found->second;
            streams_.emplace(newName, std::move(bytes));
            streams_.erase(found);
        } catch (const std::bad_alloc&) {
            return STG_E_INSUFFICIENTMEMORY;
        }
        return S_OK;
    }

    HRESULT SetElementTimes(const OLECHAR*, const FILETIME*, const FILETIME*, const FILETIME*) override {
        return STG_E_UNIMPLEMENTEDFUNCTION;
    }

    HRESULT SetClass(REFCLSID clsid) override {
        clsid_ = clsid;
        return S_OK;
    }

    HRESULT SetStateBits(DWORD bits, DWORD mask) override {
        stateBits_ = (stateBits_ & ~mask) | (bits & mask);
        return S_OK;
    }

    HRESULT Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return STG_E_INVALIDPOINTER;
        *stat = {};
        stat->type = STGTY_STORAGE;
        stat->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        stat->clsid = clsid_;
        stat->grfStateBits = stateBits_;
        return S_OK;
    }

private:
    IUnknown* findInterface(REFIID iid) override {
        if (iid == IID_IStorage) return static_cast<IStorage*>(this);
        return nullptr;
    }

    // Streams inside a storage are opened exclusively and in direct mode.
    static HRESULT checkStreamMode(DWORD mode) {
        if ((mode & 3) == 3 || (mode & STGM_TRANSACTED) != 0) return STG_E_INVALIDFLAG;
        if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE) return STG_E_INVALIDFLAG;
        return S_OK;
    }

    std::map<std::u16string, std::shared_ptr<Bytes>> streams_;
    CLSID clsid_{};
    DWORD stateBits_ = 0;
};

}  // namespace

HRESULT createMemoryStream(IStream** stream) { return createMemoryStream({}, stream); }

HRESULT createMemoryStream(std::vector<std::uint8_t> contents, IStream** stream) {
    if (stream == nullptr) return E_POINTER;
    *stream = nullptr;
    try {
        auto bytes = std::make_shared<Bytes>(std::move(contents));
        return createObject<MemoryStream>(nullptr, IID_IStream, reinterpret_cast<void**>(stream), bytes, STGM_READWRITE,
                                          std::u16string());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT streamContents(IStream* stream, std::vector<std::uint8_t>& contents) {
    if (stream == nullptr) return E_POINTER;
    contents.clear();
    ComPtr<IStream> reader;
    if (HRESULT hr = stream->Clone(reader.put()); FAILED(hr)) return hr;
    LARGE_INTEGER start{};
    if (HRESULT hr = reader->Seek(start, STREAM_SEEK_SET, nullptr); FAILED(hr)) return hr;
    std::uint8_t chunk[4096];
    for (;;) {
        ULONG got = 0;
        if (HRESULT hr = reader->Read(chunk, sizeof chunk, &got); FAILED(hr)) return hr;
        if (got == 0) return S_OK;
        contents.insert(contents.end(), chunk, chunk + got);
    }
}

HRESULT createStreamOnFile(const std::string& path, DWORD mode, IStream** stream) {
    if (stream == nullptr) return E_POINTER;
    *stream = nullptr;
    if ((mode & 3) == 3) return STG_E_INVALIDFLAG;
    int flags = (mode & 3) == STGM_READ ? O_RDONLY : (mode & 3) == STGM_WRITE ? O_WRONLY : O_RDWR;
    if (mode & STGM_CREATE) {
        if ((mode & 3) == STGM_READ) return STG_E_INVALIDFLAG;
        flags |= O_CREAT | O_TRUNC;
    }
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        switch (errno) {
            case ENOENT: return (mode & STGM_CREATE) ? STG_E_PATHNOTFOUND : STG_E_FILENOTFOUND;
            case ENOTDIR: return STG_E_PATHNOTFOUND;
            case EACCES:
            case EPERM:
            case EROFS:
            case EISDIR: return STG_E_ACCESSDENIED;
            default: return STG_E_INVALIDFUNCTION;
        }
    }
    try {
        std::shared_ptr<FileHandle> file;
        try {
            file = std::make_shared<FileHandle>(fd);
        } catch (...) {
            ::close(fd);
            throw;
        }
        const std::size_t slash = path.find_last_of('/');
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        return createObject<FileStream>(nullptr, IID_IStream, reinterpret_cast<void**>(stream), std::move(file),
                                        mode & ~STGM_CREATE, codepage::utf8ToUtf16(base));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT createMemoryStorage(IStorage** storage) {
    return createObject<MemoryStorage>(nullptr, IID_IStorage, reinterpret_cast<void**>(storage));
}

}  // namespace com
