#include "platform/com/storage.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/com/creation.h"
#include "platform/com/persist.h"

namespace com {
namespace {

LARGE_INTEGER offset(LONGLONG value) {
    LARGE_INTEGER result;
    result.QuadPart = value;
    return result;
}

ComPtr<IStream> memoryStream(std::vector<std::uint8_t> contents = {}) {
    ComPtr<IStream> stream;
    EXPECT_EQ(createMemoryStream(std::move(contents), stream.put()), S_OK);
    return stream;
}

std::string readAll(IStream* stream, ULONG size) {
    std::string out(size, '\0');
    ULONG got = 0;
    EXPECT_EQ(stream->Read(out.data(), size, &got), S_OK);
    out.resize(got);
    return out;
}

TEST(MemoryStream, WritesReadsAndReportsShortReadsAtTheEnd) {
    auto stream = memoryStream();
    ULONG written = 0;
    ASSERT_EQ(stream->Write("hello", 5, &written), S_OK);
    EXPECT_EQ(written, 5u);
    ULARGE_INTEGER position{};
    ASSERT_EQ(stream->Seek(offset(1), STREAM_SEEK_SET, &position), S_OK);
    EXPECT_EQ(position.QuadPart, 1u);
    EXPECT_EQ(readAll(stream.get(), 10), "ello");
    EXPECT_EQ(readAll(stream.get(), 10), "");
    EXPECT_EQ(stream->Read(nullptr, 1, nullptr), STG_E_INVALIDPOINTER);
}

TEST(MemoryStream, SeekFollowsEachOriginAndRefusesNegativePositions) {
    auto stream = memoryStream({1, 2, 3, 4, 5, 6});
    struct Case {
        LONGLONG move;
        DWORD origin;
        HRESULT hr;
        ULONGLONG position;  // after the call
    };
    const Case cases[] = {
        {4, STREAM_SEEK_SET, S_OK, 4},     {-1, STREAM_SEEK_CUR, S_OK, 3},
        {-2, STREAM_SEEK_END, S_OK, 4},    {-5, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 4},
        {10, STREAM_SEEK_END, S_OK, 16},   {-1, STREAM_SEEK_SET, STG_E_INVALIDFUNCTION, 16},
        {0, 3, STG_E_INVALIDFUNCTION, 16},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stream->Seek(offset(c.move), c.origin, nullptr), c.hr) << c.move << " from " << c.origin;
        ULARGE_INTEGER now{};
        stream->Seek(offset(0), STREAM_SEEK_CUR, &now);
        EXPECT_EQ(now.QuadPart, c.position) << c.move << " from " << c.origin;
    }
}

TEST(MemoryStream, WritingPastTheEndFillsTheGapWithZeros) {
    auto stream = memoryStream({7});
    ASSERT_EQ(stream->Seek(offset(3), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->Write("x", 1, nullptr), S_OK);
    std::vector<std::uint8_t> contents;
    ASSERT_EQ(streamContents(stream.get(), contents), S_OK);
    EXPECT_EQ(contents, (std::vector<std::uint8_t>{7, 0, 0, 'x'}));
    // A seek far beyond what memory holds does not make the write try.
    ASSERT_EQ(stream->Seek(offset(LONGLONG{1} << 40), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_MEDIUMFULL);
}

TEST(MemoryStream, SetSizeStatAndCloneShareTheBytes) {
    auto stream = memoryStream({1, 2, 3});
    ULARGE_INTEGER size{};
    size.QuadPart = 5;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize.QuadPart, 5u);
    EXPECT_EQ(stat.pwcsName, nullptr);

    ASSERT_EQ(stream->Seek(offset(1), STREAM_SEEK_SET, nullptr), S_OK);
    ComPtr<IStream> clone;
    ASSERT_EQ(stream->Clone(clone.put()), S_OK);
    // Own seek pointer, starting where the original was; same bytes.
    EXPECT_EQ(readAll(clone.get(), 1), "\x02");
    ASSERT_EQ(stream->Write("Z", 1, nullptr), S_OK);
    ASSERT_EQ(clone->Seek(offset(1), STREAM_SEEK_SET, nullptr), S_OK);
    EXPECT_EQ(readAll(clone.get(), 1), "Z");

    ComPtr<IStream> target = memoryStream();
    ULARGE_INTEGER all{};
    all.QuadPart = 100;
    ULARGE_INTEGER read{}, written{};
    ASSERT_EQ(stream->Seek(offset(0), STREAM_SEEK_SET, nullptr), S_OK);
    ASSERT_EQ(stream->CopyTo(target.get(), all, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 5u);
    EXPECT_EQ(written.QuadPart, 5u);
    EXPECT_EQ(stream->LockRegion(size, size, 0), STG_E_INVALIDFUNCTION);
}

TEST(MemoryStorage, CreatesOpensRenamesAndDestroysNamedStreams) {
    ComPtr<IStorage> storage;
    ASSERT_EQ(createMemoryStorage(storage.put()), S_OK);
    const DWORD create = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    const DWORD exclusive = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    ComPtr<IStream> stream;
    ASSERT_EQ(storage->CreateStream(u"Contents", exclusive, 0, 0, stream.put()), S_OK);
    ASSERT_EQ(stream->Write("abc", 3, nullptr), S_OK);
    stream.reset();

    EXPECT_EQ(storage->CreateStream(u"Contents", exclusive, 0, 0, stream.put()), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(storage->CreateStream(u"Other", STGM_READWRITE, 0, 0, stream.put()), STG_E_INVALIDFLAG);
    EXPECT_EQ(storage->CreateStream(u"a/b", exclusive, 0, 0, stream.put()), STG_E_INVALIDNAME);
    EXPECT_EQ(storage->CreateStream(u"", exclusive, 0, 0, stream.put()), STG_E_INVALIDNAME);
    EXPECT_EQ(storage->CreateStream(std::u16string(32, u'n').c_str(), exclusive, 0, 0, stream.put()),
              STG_E_INVALIDNAME);
    EXPECT_EQ(storage->OpenStream(u"Missing", nullptr, exclusive, 0, stream.put()), STG_E_FILENOTFOUND);

    ASSERT_EQ(storage->OpenStream(u"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put()), S_OK);
    EXPECT_EQ(readAll(stream.get(), 10), "abc");
    EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    ASSERT_NE(stat.pwcsName, nullptr);
    EXPECT_EQ(std::u16string(stat.pwcsName), u"Contents");
    CoTaskMemFree(stat.pwcsName);

    ASSERT_EQ(storage->RenameElement(u"Contents", u"Renamed"), S_OK);
    EXPECT_EQ(storage->OpenStream(u"Contents", nullptr, exclusive, 0, stream.put()), STG_E_FILENOTFOUND);
    ASSERT_EQ(storage->OpenStream(u"Renamed", nullptr, exclusive, 0, stream.put()), S_OK);
    EXPECT_EQ(readAll(stream.get(), 10), "abc");
    // CREATE replaces the bytes of a stream that exists.
    ASSERT_EQ(storage->CreateStream(u"Renamed", create, 0, 0, stream.put()), S_OK);
    EXPECT_EQ(readAll(stream.get(), 10), "");
    ASSERT_EQ(storage->DestroyElement(u"Renamed"), S_OK);
    EXPECT_EQ(storage->DestroyElement(u"Renamed"), STG_E_FILENOTFOUND);

    const CLSID clsid = makeGuid("{11111111-2222-3333-4444-555555555555}");
    ASSERT_EQ(storage->SetClass(clsid), S_OK);
    ASSERT_EQ(storage->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, STGTY_STORAGE);
    EXPECT_EQ(stat.clsid, clsid);
}

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "com-stream-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string file(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

TEST(FileStream, WritesThenReadsAFileAndReportsOpenFailures) {
    TemporaryFolder folder;
    const std::string path = folder.file("saved.bin");
    ComPtr<IStream> stream;
    EXPECT_EQ(createStreamOnFile(path, STGM_READ, stream.put()), STG_E_FILENOTFOUND);
    EXPECT_EQ(createStreamOnFile(folder.file("no/such/dir"), STGM_CREATE | STGM_WRITE, stream.put()),
              STG_E_PATHNOTFOUND);

    ASSERT_EQ(createStreamOnFile(path, STGM_CREATE | STGM_READWRITE, stream.put()), S_OK);
    ASSERT_EQ(stream->Write("0123456789", 10, nullptr), S_OK);
    ULARGE_INTEGER size{};
    size.QuadPart = 4;
    ASSERT_EQ(stream->SetSize(size), S_OK);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_DEFAULT), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, 4u);
    EXPECT_EQ(std::u16string(stat.pwcsName), u"saved.bin");
    CoTaskMemFree(stat.pwcsName);
    stream.reset();

    std::ifstream check(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(check), {}), "0123");

    ASSERT_EQ(createStreamOnFile(path, STGM_READ, stream.put()), S_OK);
    EXPECT_EQ(stream->Write("x", 1, nullptr), STG_E_ACCESSDENIED);
    ASSERT_EQ(stream->Seek(offset(-2), STREAM_SEEK_END, nullptr), S_OK);
    EXPECT_EQ(readAll(stream.get(), 10), "23");
}

TEST(MemoryPropertyBag, ReadsAsTheTypeAskedForAndLogsWhatCannotBe) {
    ComPtr<MemoryPropertyBag> bag = ComPtr<MemoryPropertyBag>::attach(newMemoryPropertyBag());
    Variant number(u"42");
    ASSERT_EQ(bag->Write(u"Timeout", &number), S_OK);
    Variant word(u"many");
    ASSERT_EQ(bag->Write(u"Port", &word), S_OK);

    Variant out;
    out.vt = VT_I2;
    ASSERT_EQ(bag->Read(u"TIMEOUT", &out, nullptr), S_OK);
    EXPECT_EQ(out.vt, VT_I2);
    EXPECT_EQ(out.iVal, 42);

    struct Log final : IErrorLog {
        std::u16string name;
        HRESULT code = S_OK;
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 2; }
        ULONG Release() override { return 1; }
        HRESULT AddError(LPCOLESTR property, EXCEPINFO* error) override {
            name = property;
            code = error->scode;
            return S_OK;
        }
    } log;
    Variant port;
    port.vt = VT_I4;
    EXPECT_EQ(bag->Read(u"Port", &port, &log), E_FAIL);
    EXPECT_EQ(log.name, u"Port");
    EXPECT_EQ(log.code, DISP_E_TYPEMISMATCH);
    Variant missing;
    EXPECT_EQ(bag->Read(u"Nothing", &missing, nullptr), E_INVALIDARG);
}

TEST(MemoryPropertyBag, TextFormRoundTripsAndNamesTheBadLine) {
    ComPtr<MemoryPropertyBag> bag = ComPtr<MemoryPropertyBag>::attach(newMemoryPropertyBag());
    Variant flag = Variant::fromBool(true);
    Variant tricky(u"a\\b\nc\r=d \u00e9");
    Variant count(LONG{-7});
    bag->Write(u"Flag", &flag);
    bag->Write(u"Text", &tricky);
    bag->Write(u"Count", &count);
    std::string text;
    ASSERT_EQ(bag->toText(text), S_OK);
    EXPECT_EQ(text, "Flag=True\nText=a\\\\b\\nc\\r=d \xc3\xa9\nCount=-7\n");

    ComPtr<MemoryPropertyBag> again = ComPtr<MemoryPropertyBag>::attach(newMemoryPropertyBag());
    ASSERT_EQ(again->fromText("\r\n" + text), S_OK);
    ASSERT_EQ(again->entries().size(), 3u);
    Variant value;
    value.vt = VT_BOOL;
    ASSERT_EQ(again->Read(u"Flag", &value, nullptr), S_OK);
    EXPECT_EQ(value.boolVal, VARIANT_TRUE);
    value.clear();
    ASSERT_EQ(again->Read(u"Text", &value, nullptr), S_OK);
    EXPECT_EQ(bstrView(value.bstrVal), u"a\\b\nc\r=d \u00e9");

    const struct {
        const char* text;
        std::size_t line;
    } bad[] = {{"A=1\nnoequals\n", 2}, {"=value\n", 1}, {"A=\\q\n", 1}, {"A=1\nB=\xff\n", 2}, {"A=trailing\\", 1}};
    for (const auto& c : bad) {
        std::size_t line = 0;
        EXPECT_EQ(again->fromText(c.text, &line), DISP_E_TYPEMISMATCH) << c.text;
        EXPECT_EQ(line, c.line) << c.text;
    }
    // A refused text leaves the bag as it was.
    EXPECT_EQ(again->entries().size(), 3u);
}

}  // namespace
}  // namespace com
