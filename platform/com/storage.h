// Structured storage as far as persistent controls need it: byte streams
// (ISequentialStream, IStream) and storages holding named streams (IStorage).
//
// Three kinds are on offer:
// - a memory stream, growing as it is written, whose clones share its bytes
//   but keep their own seek pointer (as a stream on global memory does);
// - a stream over a file, for tools that save a control to disk;
// - a memory storage: a flat set of named streams in direct mode. Nested
//   storages, element enumeration, copying and moving between storages and
//   element times are not part of it (STG_E_UNIMPLEMENTEDFUNCTION), since no
//   container of ours uses them; TRANSACTED is refused (STG_E_INVALIDFLAG);
//   and opening a stream twice is not detected (no share-mode bookkeeping).
//   Element names follow the compound-file rules: 1 to 31 characters, none
//   of '\\', '/', ':' or '!'.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/hresult.h"
#include "platform/com/unknown.h"

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};

union ULARGE_INTEGER {
    struct {
        DWORD LowPart;
        DWORD HighPart;
    } u;
    ULONGLONG QuadPart;
};

// 100-nanosecond intervals since 1 January 1601 (UTC).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct STATSTG {
    LPOLESTR pwcsName;  // CoTaskMemAlloc'd, unless STATFLAG_NONAME
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

using SNB = OLECHAR**;

inline constexpr DWORD STGTY_STORAGE = 1;
inline constexpr DWORD STGTY_STREAM = 2;
inline constexpr DWORD STATFLAG_DEFAULT = 0;
inline constexpr DWORD STATFLAG_NONAME = 1;
inline constexpr DWORD STREAM_SEEK_SET = 0;
inline constexpr DWORD STREAM_SEEK_CUR = 1;
inline constexpr DWORD STREAM_SEEK_END = 2;
inline constexpr DWORD STGC_DEFAULT = 0;

inline constexpr DWORD STGM_READ = 0x00000000;
inline constexpr DWORD STGM_WRITE = 0x00000001;
inline constexpr DWORD STGM_READWRITE = 0x00000002;
inline constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x00000010;
inline constexpr DWORD STGM_CREATE = 0x00001000;
inline constexpr DWORD STGM_TRANSACTED = 0x00010000;

inline constexpr HRESULT STG_E_INVALIDFUNCTION = hr32(0x80030001);
inline constexpr HRESULT STG_E_FILENOTFOUND = hr32(0x80030002);
inline constexpr HRESULT STG_E_PATHNOTFOUND = hr32(0x80030003);
inline constexpr HRESULT STG_E_ACCESSDENIED = hr32(0x80030005);
inline constexpr HRESULT STG_E_INSUFFICIENTMEMORY = hr32(0x80030008);
inline constexpr HRESULT STG_E_INVALIDPOINTER = hr32(0x80030009);
inline constexpr HRESULT STG_E_WRITEFAULT = hr32(0x8003001D);
inline constexpr HRESULT STG_E_READFAULT = hr32(0x8003001E);
inline constexpr HRESULT STG_E_FILEALREADYEXISTS = hr32(0x80030050);
inline constexpr HRESULT STG_E_INVALIDPARAMETER = hr32(0x80030057);
inline constexpr HRESULT STG_E_MEDIUMFULL = hr32(0x80030070);
inline constexpr HRESULT STG_E_INVALIDHEADER = hr32(0x800300FB);
inline constexpr HRESULT STG_E_INVALIDNAME = hr32(0x800300FC);
inline constexpr HRESULT STG_E_UNIMPLEMENTEDFUNCTION = hr32(0x800300FE);
inline constexpr HRESULT STG_E_INVALIDFLAG = hr32(0x800300FF);
inline constexpr HRESULT STG_E_CANTSAVE = hr32(0x80030103);
// "Produced with a newer version of storage".
inline constexpr HRESULT STG_E_OLDDLL = hr32(0x80030105);
inline constexpr HRESULT STG_E_DOCFILECORRUPT = hr32(0x80030109);
inline constexpr HRESULT CO_E_ALREADYINITIALIZED = hr32(0x800401F1);

inline constexpr IID IID_ISequentialStream = com::makeGuid("{0C733A30-2A1C-11CE-ADE5-00AA0044773D}");
inline constexpr IID IID_IStream = com::makeGuid("{0000000C-0000-0000-C000-000000000046}");
inline constexpr IID IID_IStorage = com::makeGuid("{0000000B-0000-0000-C000-000000000046}");

struct ISequentialStream : IUnknown {
    static constexpr const IID& uuid = IID_ISequentialStream;
    // S_OK with *read < size at the end of the stream.
    virtual HRESULT Read(void* buffer, ULONG size, ULONG* read) = 0;
    virtual HRESULT Write(const void* buffer, ULONG size, ULONG* written) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    static constexpr const IID& uuid = IID_IStream;
    virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
    virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD lockType) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
    virtual HRESULT Clone(IStream** clone) = 0;

protected:
    ~IStream() = default;
};

struct IEnumSTATSTG;

struct IStorage : IUnknown {
    static constexpr const IID& uuid = IID_IStorage;
    virtual HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                 IStream** stream) = 0;
    virtual HRESULT OpenStream(const OLECHAR* name, void* reserved1, DWORD mode, DWORD reserved2, IStream** stream) = 0;
    virtual HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD reserved1, DWORD reserved2,
                                  IStorage** storage) = 0;
    virtual HRESULT OpenStorage(const OLECHAR* name, IStorage* priority, DWORD mode, SNB exclude, DWORD reserved,
                                IStorage** storage) = 0;
    virtual HRESULT CopyTo(DWORD excludeCount, const IID* excludeIids, SNB excludeNames, IStorage* target) = 0;
    virtual HRESULT MoveElementTo(const OLECHAR* name, IStorage* target, const OLECHAR* newName, DWORD flags) = 0;
    virtual HRESULT Commit(DWORD flags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** elements) = 0;
    virtual HRESULT DestroyElement(const OLECHAR* name) = 0;
    virtual HRESULT RenameElement(const OLECHAR* oldName, const OLECHAR* newName) = 0;
    virtual HRESULT SetElementTimes(const OLECHAR* name, const FILETIME* created, const FILETIME* accessed,
                                    const FILETIME* modified) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD bits, DWORD mask) = 0;
    virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;

protected:
    ~IStorage() = default;
};

namespace com {

// An empty memory stream, or one holding `contents`, positioned at 0.
HRESULT createMemoryStream(IStream** stream);
HRESULT createMemoryStream(std::vector<std::uint8_t> contents, IStream** stream);
// Every byte of a stream, whatever its seek pointer (which is left alone).
HRESULT streamContents(IStream* stream, std::vector<std::uint8_t>& contents);

// A stream over the file at `path`. `mode`: STGM_READ, STGM_WRITE or
// STGM_READWRITE, plus STGM_CREATE to create the file or empty it.
// STG_E_FILENOTFOUND, STG_E_PATHNOTFOUND or STG_E_ACCESSDENIED when it
// cannot be opened.
HRESULT createStreamOnFile(const std::string& path, DWORD mode, IStream** stream);

// An empty memory storage.
HRESULT createMemoryStorage(IStorage** storage);

}  // namespace com
