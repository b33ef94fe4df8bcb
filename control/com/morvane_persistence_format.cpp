#include "control/com/morvane_persistence_format.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "control/com/errors.h"
#include "control/com/interface_description.h"
#include "control/include/morvane.h"
#include "platform/com/bstr.h"

namespace morvane {
namespace {

using PK = PersistedKind;

constexpr PersistedProperty persistedTable[persistedPropertyCount] = {
    {"Authorization", u"Authorization", DISPID_MORVANE_AUTHORIZATION, PK::String},
    {"AuthScheme", u"AuthScheme", DISPID_MORVANE_AUTHSCHEME, PK::Long},
    {"DataFormat", u"DataFormat", DISPID_MORVANE_DATAFORMAT, PK::Long},
    {"FirewallAutoDetect", u"FirewallAutoDetect", DISPID_MORVANE_FIREWALLAUTODETECT, PK::Boolean},
    {"FirewallType", u"FirewallType", DISPID_MORVANE_FIREWALLTYPE, PK::Long},
    {"FirewallHost", u"FirewallHost", DISPID_MORVANE_FIREWALLHOST, PK::String},
    {"FirewallPassword", u"FirewallPassword", DISPID_MORVANE_FIREWALLPASSWORD, PK::String},
    {"FirewallPort", u"FirewallPort", DISPID_MORVANE_FIREWALLPORT, PK::Long},
    {"FirewallUser", u"FirewallUser", DISPID_MORVANE_FIREWALLUSER, PK::String},
    {"FollowRedirects", u"FollowRedirects", DISPID_MORVANE_FOLLOWREDIRECTS, PK::Long},
    {"Password", u"Password", DISPID_MORVANE_PASSWORD, PK::String},
    {"ProxyAuthScheme", u"ProxyAuthScheme", DISPID_MORVANE_PROXYAUTHSCHEME, PK::Long},
    {"ProxyAutoDetect", u"ProxyAutoDetect", DISPID_MORVANE_PROXYAUTODETECT, PK::Boolean},
    {"ProxyPassword", u"ProxyPassword", DISPID_MORVANE_PROXYPASSWORD, PK::String},
    {"ProxyPort", u"ProxyPort", DISPID_MORVANE_PROXYPORT, PK::Long},
    {"ProxyServer", u"ProxyServer", DISPID_MORVANE_PROXYSERVER, PK::String},
    {"ProxySSL", u"ProxySSL", DISPID_MORVANE_PROXYSSL, PK::Long},
    {"ProxyUser", u"ProxyUser", DISPID_MORVANE_PROXYUSER, PK::String},
    {"SSLCertStore", u"SSLCertStore", DISPID_MORVANE_SSLCERTSTORE, PK::String},
    {"SSLCertStorePassword", u"SSLCertStorePassword", DISPID_MORVANE_SSLCERTSTOREPASSWORD, PK::String},
    {"SSLCertStoreType", u"SSLCertStoreType", DISPID_MORVANE_SSLCERTSTORETYPE, PK::Long},
    {"SSLCertSubject", u"SSLCertSubject", DISPID_MORVANE_SSLCERTSUBJECT, PK::String},
    {"Timeout", u"Timeout", DISPID_MORVANE_TIMEOUT, PK::Integer},
    {"User", u"User", DISPID_MORVANE_USER, PK::String},
};

constexpr std::uint8_t magic[4] = {'M', 'V', 'P', 'S'};

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// Reads the body from a cursor that never runs past its end.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    bool take(std::size_t count, const std::uint8_t*& at) {
        if (bytes_.size() - position_ < count) return false;
        at = bytes_.data() + position_;
        position_ += count;
        return true;
    }
    bool done() const { return position_ == bytes_.size(); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

HRESULT decodeBody(std::span<const std::uint8_t> body, PersistedValues& values) {
    Cursor cursor(body);
    PersistedValues read;
    for (std::size_t i = 0; i < persistedPropertyCount; ++i) {
        const PersistedProperty& property = persistedTable[i];
        const std::uint8_t* at = nullptr;
        if (!cursor.take(5, at)) return STG_E_DOCFILECORRUPT;
        if (static_cast<DISPID>(get32(at)) != property.dispid || at[4] != static_cast<std::uint8_t>(property.kind)) {
            return STG_E_DOCFILECORRUPT;
        }
        com::Variant& value = read[i];
        switch (property.kind) {
            case PK::Boolean:
                if (!cursor.take(1, at) || at[0] > 1) return STG_E_DOCFILECORRUPT;
                value = com::Variant::fromBool(at[0] == 1);
                break;
            case PK::Integer:
                if (!cursor.take(2, at)) return STG_E_DOCFILECORRUPT;
                value = com::Variant(static_cast<SHORT>(get16(at)));
                break;
            case PK::Long:
                if (!cursor.take(4, at)) return STG_E_DOCFILECORRUPT;
                value = com::Variant(static_cast<LONG>(get32(at)));
                break;
            case PK::String: {
                if (!cursor.take(4, at)) return STG_E_DOCFILECORRUPT;
                const std::uint32_t units = get32(at);
                if (units > persistenceMaxBody / 2 || !cursor.take(std::size_t{units} * 2, at)) {
                    return STG_E_DOCFILECORRUPT;
                }
                std::u16string text(units, u'\0');
                for (std::uint32_t u = 0; u < units; ++u) text[u] = static_cast<char16_t>(get16(at + 2 * u));
                value = com::Variant(std::u16string_view(text));
                if (value.bstrVal == nullptr) return E_OUTOFMEMORY;
                break;
            }
        }
        if (FAILED(checkPersistedValue(property, value))) return STG_E_DOCFILECORRUPT;
    }
    if (!cursor.done()) return STG_E_DOCFILECORRUPT;
    values = std::move(read);
    return S_OK;
}

// The header's verdict, and the body length it announces.
HRESULT checkHeader(const std::uint8_t* header, std::uint32_t& bodyLength, std::uint32_t& crc) {
    if (std::memcmp(header, magic, sizeof magic) != 0) return STG_E_INVALIDHEADER;
    const std::uint16_t version = get16(header + 4);
    if (version == 0) return STG_E_INVALIDHEADER;
    if (version > persistenceFormatVersion) return STG_E_OLDDLL;
    if (get16(header + 6) != persistedPropertyCount) return STG_E_DOCFILECORRUPT;
    bodyLength = get32(header + 8);
    crc = get32(header + 12);
    if (bodyLength > persistenceMaxBody) return STG_E_DOCFILECORRUPT;
    return S_OK;
}

}  // namespace

std::span<const PersistedProperty, persistedPropertyCount> persistedProperties() { return persistedTable; }

VARTYPE variantTypeOf(PersistedKind kind) {
    switch (kind) {
        case PK::Boolean: return VT_BOOL;
        case PK::Integer: return VT_I2;
        case PK::Long: return VT_I4;
        case PK::String: return VT_BSTR;
    }
    return VT_EMPTY;
}

PersistedValues defaultPersistedValues() {
    PersistedValues values;
    for (std::size_t i = 0; i < persistedPropertyCount; ++i) {
        const PersistedProperty& property = persistedTable[i];
        const PropertyDefault& initial = findProperty(property.dispid)->defaultValue;
        switch (property.kind) {
            case PK::Boolean: values[i] = com::Variant::fromBool(initial.number != 0); break;
            case PK::Integer: values[i] = com::Variant(static_cast<SHORT>(initial.number)); break;
            case PK::Long: values[i] = com::Variant(static_cast<LONG>(initial.number)); break;
            case PK::String:
                values[i] = com::Variant(std::u16string(initial.text.begin(), initial.text.end()));
                if (values[i].bstrVal == nullptr) throw std::bad_alloc();
                break;
        }
    }
    return values;
}

HRESULT checkPersistedValue(const PersistedProperty& property, const VARIANT& value) {
    if (value.vt != variantTypeOf(property.kind)) return DISP_E_TYPEMISMATCH;
    const PropertyDescription* description = findProperty(property.dispid);
    if (description->maximum) {
        const std::int64_t number = property.kind == PK::Integer ? value.iVal : value.lVal;
        if (!inRange(*description, number)) return accessor_error::outOfRange.hresult;
    }
    return S_OK;
}

bool samePersistedValue(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
        case VT_BOOL: return (a.boolVal != VARIANT_FALSE) == (b.boolVal != VARIANT_FALSE);
        case VT_I2: return a.iVal == b.iVal;
        case VT_I4: return a.lVal == b.lVal;
        case VT_BSTR: return com::bstrView(a.bstrVal) == com::bstrView(b.bstrVal);
        default: return false;
    }
}

bool samePersistedValues(const PersistedValues& a, const PersistedValues& b) {
    for (std::size_t i = 0; i < persistedPropertyCount; ++i) {
        if (!samePersistedValue(a[i], b[i])) return false;
    }
    return true;
}

std::vector<std::uint8_t> encodePersistedValues(const PersistedValues& values) {
    std::vector<std::uint8_t> body;
    for (std::size_t i = 0; i < persistedPropertyCount; ++i) {
        const PersistedProperty& property = persistedTable[i];
        const VARIANT& value = values[i];
        put32(body, static_cast<std::uint32_t>(property.dispid));
        body.push_back(static_cast<std::uint8_t>(property.kind));
        switch (property.kind) {
            case PK::Boolean: body.push_back(value.boolVal != VARIANT_FALSE ? 1 : 0); break;
            case PK::Integer: put16(body, static_cast<std::uint16_t>(value.iVal)); break;
            case PK::Long: put32(body, static_cast<std::uint32_t>(value.lVal)); break;
            case PK::String: {
                const std::u16string_view text = com::bstrView(value.bstrVal);
                put32(body, static_cast<std::uint32_t>(text.size()));
                for (const char16_t unit : text) put16(body, static_cast<std::uint16_t>(unit));
                break;
            }
        }
    }
    std::vector<std::uint8_t> out(magic, magic + sizeof magic);
    put16(out, persistenceFormatVersion);
    put16(out, static_cast<std::uint16_t>(persistedPropertyCount));
    put32(out, static_cast<std::uint32_t>(body.size()));
    put32(out, crc32(body));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

HRESULT decodePersistedValues(std::span<const std::uint8_t> bytes, PersistedValues& values, std::size_t* used) {
    if (bytes.size() < persistenceHeaderSize) {
        // A cut-off header of our own is a damaged save; anything else is not ours.
        const bool ours = bytes.size() >= sizeof magic && std::memcmp(bytes.data(), magic, sizeof magic) == 0;
        return ours ? STG_E_DOCFILECORRUPT : STG_E_INVALIDHEADER;
    }
    std::uint32_t bodyLength = 0;
    std::uint32_t crc = 0;
    if (HRESULT hr = checkHeader(bytes.data(), bodyLength, crc); FAILED(hr)) return hr;
    if (bytes.size() - persistenceHeaderSize < bodyLength) return STG_E_DOCFILECORRUPT;
    const auto body = bytes.subspan(persistenceHeaderSize, bodyLength);
    if (crc32(body) != crc) return STG_E_DOCFILECORRUPT;
    try {
        if (HRESULT hr = decodeBody(body, values); FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (used) *used = persistenceHeaderSize + bodyLength;
    return S_OK;
}

HRESULT readPersistedValues(IStream* stream, PersistedValues& values) {
    if (stream == nullptr) return E_POINTER;
    try {
        std::vector<std::uint8_t> bytes(persistenceHeaderSize);
        ULONG got = 0;
        if (HRESULT hr = stream->Read(bytes.data(), persistenceHeaderSize, &got); FAILED(hr)) return hr;
        if (got < persistenceHeaderSize) {
            bytes.resize(got);
            return decodePersistedValues(bytes, values, nullptr);
        }
        std::uint32_t bodyLength = 0;
        std::uint32_t crc = 0;
        if (HRESULT hr = checkHeader(bytes.data(), bodyLength, crc); FAILED(hr)) return hr;
        // In pieces, so a damaged length costs no more memory than the
        // stream really holds.
        while (bytes.size() < persistenceHeaderSize + bodyLength) {
            std::uint8_t chunk[4096];
            const ULONG want = static_cast<ULONG>(
                std::min<std::size_t>(sizeof chunk, persistenceHeaderSize + bodyLength - bytes.size()));
            if (HRESULT hr = stream->Read(chunk, want, &got); FAILED(hr)) return hr;
            if (got == 0) return STG_E_DOCFILECORRUPT;
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
        return decodePersistedValues(bytes, values, nullptr);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT writePersistedValues(IStream* stream, const PersistedValues& values) {
    if (stream == nullptr) return E_POINTER;
    try {
        const std::vector<std::uint8_t> bytes = encodePersistedValues(values);
        // Nothing this reader would refuse gets written.
        if (bytes.size() > persistenceHeaderSize + persistenceMaxBody) return STG_E_CANTSAVE;
        ULONG written = 0;
        if (HRESULT hr = stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written); FAILED(hr)) {
            return hr;
        }
        return written == bytes.size() ? S_OK : STG_E_MEDIUMFULL;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace morvane
