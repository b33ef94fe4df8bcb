#include "platform/security/certificate_text.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <vector>

#include "platform/security/openssl_handles.h"

namespace platform::security {

namespace {

struct KeyName {
    int nid;
    const char* key;
};

constexpr KeyName kKeyNames[] = {
    {NID_commonName, "CN"},
    {NID_localityName, "L"},
    {NID_organizationName, "O"},
    {NID_organizationalUnitName, "OU"},
    {NID_pkcs9_emailAddress, "E"},
    {NID_countryName, "C"},
    {NID_stateOrProvinceName, "S"},
    {NID_streetAddress, "STREET"},
    {NID_title, "T"},
    {NID_givenName, "G"},
    {NID_initials, "I"},
    {NID_surname, "SN"},
    {NID_domainComponent, "DC"},
    {NID_serialNumber, "SERIALNUMBER"},
    {NID_description, "Description"},
    {NID_postalCode, "PostalCode"},
    {NID_postOfficeBox, "POBox"},
    {NID_telephoneNumber, "Phone"},
    {NID_x121Address, "X21Address"},
    {NID_dnQualifier, "dnQualifier"},
    {NID_pkcs9_unstructuredName, "UnstructuredName"},
    {NID_pkcs9_unstructuredAddress, "UnstructuredAddress"},
};

std::string keyOf(const ASN1_OBJECT* object) {
    int nid = OBJ_obj2nid(object);
    for (const auto& name : kKeyNames) {
        if (name.nid == nid) return name.key;
    }
    char dotted[128];
    OBJ_obj2txt(dotted, sizeof dotted, object, 1);
    return std::string("OID.") + dotted;
}

bool needsQuotes(const std::string& value) {
    if (value.empty() || value.front() == ' ' || value.back() == ' ') return true;
    return value.find_first_of(",+=\"\r\n<>#;") != std::string::npos;
}

std::string valueOf(const ASN1_STRING* data) {
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length >= 0) {
        std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(length));
        OPENSSL_free(utf8);
        if (!needsQuotes(text)) return text;
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '"') quoted += '"';
            quoted += c;
        }
        return quoted + '"';
    }
    // Not a string type: its bytes in hexadecimal, as the platform shows
    // encoded values.
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex = "#";
    const unsigned char* bytes = ASN1_STRING_get0_data(data);
    for (int i = 0; i < ASN1_STRING_length(data); ++i) {
        hex += kHex[bytes[i] >> 4];
        hex += kHex[bytes[i] & 0xF];
    }
    return hex;
}

X509Ptr decode(std::span<const std::uint8_t> der) {
    const unsigned char* cursor = der.data();
    return X509Ptr(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
}

}  // namespace

std::string formatX500Name(const X509_NAME* name) {
    std::string text;
    int previousSet = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        int set = X509_NAME_ENTRY_set(entry);
        if (i > 0) text += set == previousSet ? " " : ", ";
        previousSet = set;
        text += keyOf(X509_NAME_ENTRY_get_object(entry));
        text += '=';
        text += valueOf(X509_NAME_ENTRY_get_data(entry));
    }
    return text;
}

std::optional<std::string> certificateSubject(std::span<const std::uint8_t> der) {
    X509Ptr cert = decode(der);
    if (!cert) return std::nullopt;
    return formatX500Name(X509_get_subject_name(cert.get()));
}

std::optional<std::string> certificateIssuer(std::span<const std::uint8_t> der) {
    X509Ptr cert = decode(der);
    if (!cert) return std::nullopt;
    return formatX500Name(X509_get_issuer_name(cert.get()));
}

std::string base64Lines(std::span<const std::uint8_t> bytes) {
    std::vector<unsigned char> encoded(4 * ((bytes.size() + 2) / 3) + 1);
    int length = EVP_EncodeBlock(encoded.data(), bytes.data(), static_cast<int>(bytes.size()));
    std::string text;
    for (int at = 0; at < length; at += 64) {
        if (at > 0) text += "\r\n";
        text.append(reinterpret_cast<const char*>(encoded.data()) + at,
                    static_cast<std::size_t>(std::min(64, length - at)));
    }
    return text;
}

std::string pemArmor(std::span<const std::uint8_t> der, std::string_view label) {
    std::string text = "-----BEGIN ";
    text += label;
    text += "-----\r\n";
    text += base64Lines(der);
    text += "\r\n-----END ";
    text += label;
    text += "-----\r\n";
    return text;
}

}  // namespace platform::security
