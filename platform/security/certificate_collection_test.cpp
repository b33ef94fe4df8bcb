// The client certificate stores against files made by the tools people make
// them with: openssl (pkcs12, crl2pkcs7, pkcs8), ssh-keygen and puttygen,
// all run at test time.
#include "platform/security/certificate_collection.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "platform/security/certificate_text.h"
#include "platform/security/test_pki.h"
#include "platform/text/code_page.h"

namespace platform::security {
namespace {

namespace fs = std::filesystem;
using testing::EnvOverride;
using testing::Issued;
using testing::TempFolder;

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, std::string_view text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void run(const std::string& command) {
    ASSERT_EQ(std::system(("(" + command + ") >/dev/null 2>&1").c_str()), 0) << command;
}

Issued leaf(const std::vector<std::pair<std::string, std::string>>& subject, const Issued* issuer = nullptr) {
    testing::CertificateRequest request = testing::leafRequest("", "", 7);
    request.subject = subject;
    return testing::issue(request, issuer);
}

X509Ptr upRef(X509* cert) {
    X509_up_ref(cert);
    return X509Ptr(cert);
}

EvpPkeyPtr upRef(EVP_PKEY* key) {
    EVP_PKEY_up_ref(key);
    return EvpPkeyPtr(key);
}

std::string subjectOf(X509* cert) { return formatX500Name(X509_get_subject_name(cert)); }

std::string base64Of(BIGNUM* number) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(BN_num_bytes(number)));
    BN_bn2bin(number, bytes.data());
    BN_free(number);
    return base64Lines(bytes);
}

// The files every test reads, made once.
struct Material {
    TempFolder folder;
    Issued ca = testing::issue(testing::caRequest({{"CN", "Stores CA"}}, 1));
    Issued client = leaf({{"C", "DE"}, {"O", "Morvane"}, {"CN", "Client One"}}, &ca);
    Issued rsa = [] {
        testing::CertificateRequest request = testing::leafRequest("Xml Key", "", 3);
        request.rsa = true;
        return testing::issue(request);
    }();
    fs::path operator/(const std::string& name) const { return folder.path() / name; }
};
Material* material = nullptr;

// A PKCS#12 with the keyless CA first, which `openssl pkcs12 -export` never
// writes (it puts the key's certificate first), and optionally no password
// at all rather than an empty one.
void writeCaFirstPfx(const fs::path& path, const char* password) {
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    PKCS12_add_cert(&bags, material->ca.cert.get());
    PKCS12_SAFEBAG* cert = PKCS12_add_cert(&bags, material->client.cert.get());
    PKCS12_SAFEBAG* key = PKCS12_add_key(&bags, material->client.key.get(), 0, 2048, NID_aes_256_cbc, password);
    unsigned char id[] = {1, 2, 3, 4};
    PKCS12_add_localkeyid(cert, id, sizeof id);
    PKCS12_add_localkeyid(key, id, sizeof id);
    STACK_OF(PKCS7)* safes = nullptr;
    PKCS12_add_safe(&safes, bags, -1, 0, nullptr);
    std::unique_ptr<PKCS12, OpenSslFree<PKCS12_free>> p12(PKCS12_add_safes(safes, 0));
    PKCS12_set_mac(p12.get(), password, -1, nullptr, 0, 2048, nullptr);
    // An absent password must really differ from an empty one here.
    if (password == nullptr && PKCS12_verify_mac(p12.get(), "", 0) == 1) throw std::runtime_error("MAC");
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    i2d_PKCS12_fp(out.get(), p12.get());
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    sk_PKCS7_pop_free(safes, PKCS7_free);
}

class CertificateStores : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        material = new Material;
        const Material& m = *material;
        testing::writePem(m / "ca.crt", m.ca.cert.get());
        testing::writePem(m / "client.crt", m.client.cert.get());
        testing::writeDer(m / "client.der", m.client.cert.get());
        testing::writeKeyPem(m / "client.key", m.client.key.get());
        writeText(m / "client_and_key.pem", readText(m / "client.crt") + readText(m / "client.key"));
        writeText(m / "chain_and_key.pem", readText(m / "ca.crt") + readText(m / "client_and_key.pem"));
        writeText(m / "pp", "pw\n");
        run("cd " + m.folder.path().string() + R"( && set -e
            export=" openssl pkcs12 -export -in client.crt -inkey client.key -certfile ca.crt"
            $export -out secret.pfx -passout pass:secret
            $export -out empty.pfx -passout pass:
            $export -out open.pfx -passout pass: -nomac -keypbe NONE -certpbe NONE
            $export -out legacy.pfx -legacy -passout pass:secret
            $export -out costly.pfx -iter 65536 -passout pass:secret
            base64 secret.pfx > secret.pfx.b64
            openssl pkcs8 -topk8 -v2 des3 -in client.key -passout pass:pw -out enc.key
            cat client.crt enc.key > client_enc.pem
            openssl pkey -in client.key -pubout -out client.pub
            openssl crl2pkcs7 -nocrl -certfile ca.crt -certfile client.crt -outform DER -out chain.p7b
            openssl crl2pkcs7 -nocrl -certfile ca.crt -certfile client.crt -out chain.p7b.pem
            ssh-keygen -q -t ecdsa -N '' -C test -f id_ecdsa
            ssh-keygen -q -t rsa -b 2048 -N '' -C test -f id_rsa
            puttygen -q -t ecdsa -b 256 -o plain.ppk --new-passphrase /dev/null
            puttygen -q -t ecdsa -b 384 -o locked.ppk --new-passphrase pp
            puttygen plain.ppk -O public-openssh -o plain.ppk.pub
            puttygen locked.ppk --old-passphrase pp -O public-openssh -o locked.ppk.pub
            for key in id_ecdsa id_rsa plain.ppk locked.ppk; do ssh-keygen -e -m PKCS8 -f $key.pub > $key.pkcs8; done)");
        // The MAC's iteration count raised to 8388607, which is refused before
        // any of it is computed (so the MAC need not match).
        std::string costly = readText(m / "costly.pfx");
        costly.replace(costly.rfind(std::string("\x02\x03\x01\x00\x00", 5)), 5, "\x02\x03\x7f\xff\xff");
        writeText(m / "costly.pfx", costly);
        writeCaFirstPfx(m / "cafirst.pfx", "secret");
        writeCaFirstPfx(m / "nopassword.pfx", nullptr);
        // .NET's XML key format, written from the RSA key's own numbers.
        const char* names[8] = {OSSL_PKEY_PARAM_RSA_N,
                                OSSL_PKEY_PARAM_RSA_E,
                                OSSL_PKEY_PARAM_RSA_FACTOR1,
                                OSSL_PKEY_PARAM_RSA_FACTOR2,
                                OSSL_PKEY_PARAM_RSA_EXPONENT1,
                                OSSL_PKEY_PARAM_RSA_EXPONENT2,
                                OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
                                OSSL_PKEY_PARAM_RSA_D};
        const char* tags[8] = {"Modulus", "Exponent", "P", "Q", "DP", "DQ", "InverseQ", "D"};
        std::string xml[8];
        for (int i = 0; i < 8; ++i) {
            BIGNUM* value = nullptr;
            EVP_PKEY_get_bn_param(m.rsa.key.get(), names[i], &value);
            xml[i] = std::string("<") + tags[i] + ">" + base64Of(value) + "</" + tags[i] + ">";
        }
        writeText(m / "public.xml", "<RSAKeyValue>" + xml[0] + xml[1] + "</RSAKeyValue>");
        writeText(m / "private.xml", "<RSAKeyValue>" + xml[0] + xml[1] + xml[2] + xml[3] + xml[4] + xml[5] + xml[6] +
                                         xml[7] + "</RSAKeyValue>");
        writeText(m / "certs.xml", "<X509Data><X509Certificate>" + base64Lines(m.ca.der()) +
                                       "</X509Certificate><X509Certificate>" + base64Lines(m.client.der()) +
                                       "</X509Certificate></X509Data>");
        writeText(m / "broken.xml", "<X509Data><X509Certificate>AAAA</X509Certificate></X509Data>");
        std::string broken = readText(m / "client_and_key.pem");
        broken.replace(broken.find("MII"), 3, "AAA");
        writeText(m / "broken_cert.pem", broken);
    }
    static void TearDownTestSuite() {
        delete material;
        material = nullptr;
    }
};

// ---------------------------------------------------------------------------
// Every store type opens into the expected certificates and keys.

struct Expected {
    const char* subject;
    bool key;
};

// The store opened and holds these certificates in this order, each key
// with the certificate it belongs to.
void expectEntries(const StoreOpenResult& result, const std::vector<Expected>& expected) {
    ASSERT_EQ(result.code, 0) << result.text;
    ASSERT_EQ(result.store.entries.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const CertificateEntry& entry = result.store.entries[i];
        EXPECT_EQ(subjectOf(entry.certificate.get()), expected[i].subject) << i;
        EXPECT_EQ(entry.privateKey != nullptr, expected[i].key) << i;
        if (entry.privateKey) {
            EXPECT_EQ(X509_check_private_key(entry.certificate.get(), entry.privateKey.get()), 1) << i;
        }
    }
}

struct OpenCase {
    const char* name;
    CertStoreType type;
    const char* file;  // under the material folder; passed by name or as bytes, as the type takes it
    const char* password;
    std::vector<Expected> entries;
    const char* publicKeyPem = nullptr;  // the key a wrapped certificate must carry
};

bool byName(std::int32_t type) {
    return type == 2 || type == 4 || type == 6 || type == 8 || type == 11 || type == 13 || type == 14 || type == 16;
}

// A material file's name or bytes; "=text" stands for itself.
std::string source(std::int32_t type, std::string_view file) {
    if (file.starts_with('=')) return std::string(file.substr(1));
    return byName(type) ? (*material / std::string(file)).string() : readText(*material / std::string(file));
}

void PrintTo(const OpenCase& c, std::ostream* out) { *out << c.name; }

class OpensStore : public CertificateStores, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpensStore, WithItsCertificatesAndKeys) {
    const OpenCase& c = GetParam();
    const auto type = static_cast<std::int32_t>(c.type);
    const StoreOpenResult result = openCertificateStore(type, bytesOf(source(type, c.file)), c.password);
    ASSERT_NO_FATAL_FAILURE(expectEntries(result, c.entries));
    EXPECT_EQ(result.store.type, c.type);
    if (c.publicKeyPem != nullptr) {
        const std::string pem = readText(*material / c.publicKeyPem);
        BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
        EvpPkeyPtr expected(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr));
        ASSERT_TRUE(expected);
        EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(result.store.entries[0].certificate.get()), expected.get()), 1);
    }
}

constexpr const char* clientName = "C=DE, O=Morvane, CN=Client One";
const Expected keyed{clientName, true}, client{clientName, false}, ca{"CN=Stores CA", false};
const Expected wrappedWithKey{"CN=pem_cert", true}, wrapped{"CN=pem_cert", false};
using T = CertStoreType;

INSTANTIATE_TEST_SUITE_P(
    Types, OpensStore,
    ::testing::Values(
        OpenCase{"pfx_file", T::PfxFile, "secret.pfx", "secret", {keyed, ca}},
        OpenCase{"pfx_blob_base64", T::PfxBlob, "secret.pfx.b64", "secret", {keyed, ca}},
        OpenCase{"pfx_empty_password", T::PfxBlob, "empty.pfx", "", {keyed, ca}},
        OpenCase{"pfx_unprotected", T::PfxBlob, "open.pfx", "", {keyed, ca}},
        OpenCase{"pfx_no_password_at_all", T::PfxBlob, "nopassword.pfx", "", {ca, keyed}},
        OpenCase{"pfx_legacy_rc2_3des", T::PfxFile, "legacy.pfx", "secret", {keyed, ca}},
        OpenCase{"pfx_keyless_ca_first", T::PfxBlob, "cafirst.pfx", "secret", {ca, keyed}},
        OpenCase{"pem_key_file", T::PemKeyFile, "client_and_key.pem", "", {keyed}},
        OpenCase{"pem_key_encrypted_pkcs8", T::PemKeyBlob, "client_enc.pem", "pw", {keyed}},
        OpenCase{"pem_key_goes_to_its_certificate", T::PemKeyBlob, "chain_and_key.pem", "", {ca, keyed}},
        OpenCase{"pem_key_alone_is_wrapped", T::PemKeyBlob, "client.key", "", {wrappedWithKey}, "client.pub"},
        OpenCase{"public_key_file", T::PublicKeyFile, "client.pub", "", {wrapped}, "client.pub"},
        OpenCase{"public_key_blob_certificate_kept", T::PublicKeyBlob, "client.crt", "", {client}},
        OpenCase{"public_key_blob_der_certificate", T::PublicKeyBlob, "client.der", "", {client}},
        OpenCase{"ssh_blob_ecdsa", T::SshPublicKeyBlob, "id_ecdsa.pub", "", {wrapped}, "id_ecdsa.pkcs8"},
        OpenCase{"ssh_file_rsa", T::SshPublicKeyFile, "id_rsa.pub", "", {wrapped}, "id_rsa.pkcs8"},
        OpenCase{"p7b_file_der", T::P7bFile, "chain.p7b", "", {ca, client}},
        OpenCase{"p7b_blob_pem", T::P7bBlob, "chain.p7b.pem", "", {ca, client}},
        OpenCase{"ppk_file", T::PpkFile, "plain.ppk", "", {wrappedWithKey}, "plain.ppk.pkcs8"},
        OpenCase{"ppk_blob_encrypted", T::PpkBlob, "locked.ppk", "pw", {wrappedWithKey}, "locked.ppk.pkcs8"},
        OpenCase{"xml_private_key", T::XmlFile, "private.xml", "", {wrappedWithKey}},
        OpenCase{"xml_public_key", T::XmlBlob, "public.xml", "", {wrapped}},
        OpenCase{"xml_certificates", T::XmlBlob, "certs.xml", "", {ca, client}}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------
// Failures give their codes and texts.

struct FailCase {
    const char* name;
    std::int32_t type;
    const char* file;  // as in OpenCase
    const char* password;
    int code;
    const char* text;
};

void PrintTo(const FailCase& c, std::ostream* out) { *out << c.name; }

class FailsToOpen : public CertificateStores, public ::testing::WithParamInterface<FailCase> {};

TEST_P(FailsToOpen, WithCodeAndText) {
    const FailCase& c = GetParam();
    const StoreOpenResult result = openCertificateStore(c.type, bytesOf(source(c.type, c.file)), c.password);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.text, c.text);
    EXPECT_TRUE(result.store.entries.empty());
}

constexpr const char* unsupported = "Unknown or unsupported certificate store type.";
constexpr const char* noFile = "The certificate file could not be opened.";
constexpr const char* noPem = "Failed to decode PEM file.";
constexpr const char* badPassword = "The certificate store could not be opened (86).";
constexpr const char* badEncoding = "The certificate store could not be opened (-2146885630).";

INSTANTIATE_TEST_SUITE_P(
    Cases, FailsToOpen,
    ::testing::Values(
        FailCase{"jks_file", 4, "secret.pfx", "", -1, unsupported}, FailCase{"jks_blob", 5, "=x", "", -1, unsupported},
        FailCase{"negative_type", -3, "=x", "", -1, unsupported},
        FailCase{"pfx_file_missing", 2, "missing.pfx", "", 271, noFile},
        FailCase{"pfx_file_is_a_folder", 2, "=/tmp", "", 271, noFile},
        FailCase{"public_key_file_missing", 8, "missing.pub", "", 271, "The public key file could not be opened."},
        FailCase{"xml_file_missing", 16, "missing.xml", "", 271, "The xml key file could not be opened."},
        FailCase{"pfx_wrong_password", 3, "secret.pfx", "wrong", 271, badPassword},
        FailCase{"pfx_needs_its_password", 3, "secret.pfx", "", 271, badPassword},
        FailCase{"pfx_not_pkcs12", 3, "client.der", "secret", 271, badEncoding},
        FailCase{"pfx_bad_base64", 3, "=QUJD=A==", "", 271, badEncoding},
        FailCase{"pfx_iterations_refused", 3, "costly.pfx", "secret", 271,
                 "The certificate store could not be opened (-2146893819)."},
        FailCase{"p7b_not_pkcs7", 12, "client.der", "", 271, badEncoding},
        FailCase{"pem_without_key", 7, "client.crt", "", 271, noPem},
        FailCase{"pem_key_wrong_password", 7, "client_enc.pem", "nope", 271, noPem},
        FailCase{"pem_certificate_undecodable", 7, "broken_cert.pem", "", 271, "The certificate could not be decoded"},
        FailCase{"public_key_blob_empty", 9, "=", "", 271, noPem},
        FailCase{"ssh_blob_garbage", 10, "=ssh-rsa !!!", "", 271, noPem},
        FailCase{"ppk_wrong_password", 15, "locked.ppk", "nope", 271, noPem},
        FailCase{"xml_certificate_undecodable", 17, "broken.xml", "", 271, "Could not read XML certificate."},
        FailCase{"xml_nothing", 17, "=<Nothing/>", "", 271, "Could not import key"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(CertificateStores, PfxFileNameIsRetriedFromTheSystemCodePage) {
    if (codepage::ansiCodePage() != 1252) GTEST_SKIP() << "needs the default system code page";
    fs::copy_file(*material / "secret.pfx", *material / "caf\xC3\xA9.pfx", fs::copy_options::overwrite_existing);
    const std::string name = (*material / "caf\xE9.pfx").string();  // the same name in Windows-1252
    const StoreOpenResult result = openCertificateStore(2, bytesOf(name), "secret");
    ASSERT_EQ(result.code, 0) << result.text;
    EXPECT_EQ(result.store.entries.size(), 2u);
}

// ---------------------------------------------------------------------------
// System store folders

TEST_F(CertificateStores, SystemStoreFolderPairsKeysByPublicKey) {
    TempFolder user;
    EnvOverride location("TALTRIX_CERT_USER_DIR", user.path().string());
    const fs::path my = user.path() / "My";  // looked up as "MY"
    const Issued a = leaf({{"CN", "Folder A"}}), b = leaf({{"CN", "Folder B"}}), d = leaf({{"CN", "Folder D"}});
    const Issued e = leaf({{"CN", "Folder E"}});
    testing::writeKeyPem(user.path() / "a.key", a.key.get());
    writeText(my / "a_both.pem", pemArmor(a.der()) + readText(user.path() / "a.key"));
    testing::writePem(my / "b_side.crt", b.cert.get());
    testing::writeKeyPem(my / "b_side.key", b.key.get());
    fs::copy_file(*material / "empty.pfx", my / "c_drop.pfx");
    testing::writePem(my / "d_wrong.crt", d.cert.get());
    testing::writeKeyPem(my / "d_wrong.key", e.key.get());  // same name, someone else's key
    testing::writeDer(my / "e_plain.der", e.cert.get());
    fs::copy_file(*material / "secret.pfx", my / "f_locked.p12");
    writeText(my / "notes.txt", "not a certificate");

    std::vector<Expected> withoutPassword{{"CN=Folder A", true},  {"CN=Folder B", true}, keyed, ca,
                                          {"CN=Folder D", false}, {"CN=Folder E", false}};
    std::vector<Expected> withPassword = withoutPassword;
    withPassword.insert(withPassword.end(), {keyed, ca});
    for (const auto& [password, expected] : {std::pair{"", withoutPassword}, std::pair{"secret", withPassword}}) {
        SCOPED_TRACE(password);
        expectEntries(openCertificateStore(0, bytesOf("MY"), password), expected);
    }
    for (const char* name : {"Nope", "", "..", "My/../My"}) {
        const StoreOpenResult result = openCertificateStore(0, bytesOf(name), "");
        EXPECT_EQ(result.code, 271) << name;
        EXPECT_EQ(result.text, "The certificate store could not be opened (2).") << name;
    }
}

TEST_F(CertificateStores, KeysAreFoundInUserThenMachineStores) {
    TempFolder user, machine;
    EnvOverride userLocation("TALTRIX_CERT_USER_DIR", user.path().string());
    EnvOverride machineLocation("TALTRIX_CERT_MACHINE_DIR", machine.path().string());
    const Issued inUser = leaf({{"CN", "In User"}}), inMachine = leaf({{"CN", "In Machine"}});
    const Issued nowhere = leaf({{"CN", "Nowhere"}});
    testing::writeKeyPem(user.path() / "MY" / "some.key", inUser.key.get());
    testing::writeKeyPem(machine.path() / "my" / "other.key", inMachine.key.get());
    testing::writePem(machine.path() / "my" / "other.crt", inMachine.cert.get());

    const EvpPkeyPtr userKey = findPrivateKeyInSystemStores(inUser.cert.get());
    ASSERT_TRUE(userKey);
    EXPECT_EQ(X509_check_private_key(inUser.cert.get(), userKey.get()), 1);
    const EvpPkeyPtr machineKey = findPrivateKeyInSystemStores(inMachine.cert.get());
    ASSERT_TRUE(machineKey);
    EXPECT_EQ(X509_check_private_key(inMachine.cert.get(), machineKey.get()), 1);
    EXPECT_FALSE(findPrivateKeyInSystemStores(nowhere.cert.get()));

    expectEntries(openCertificateStore(1, bytesOf("MY"), ""), {{"CN=In Machine", true}});
}

// ---------------------------------------------------------------------------
// Selection

struct SelectCase {
    const char* name;
    std::string subject;
    std::optional<std::size_t> expected;
    CertStoreType type = CertStoreType::User;
};

struct NamedEntry {
    std::vector<std::tuple<std::string, std::string, bool>> name;  // key, value, joins the previous RDN
    bool key;
};

// The store the selection cases search, in order.
const std::vector<NamedEntry> selectionStore{
    {{{"CN", "Keyless First", false}}, false},                                           // 0
    {{{"CN", "Client One Extended", false}}, true},                                      // 1
    {{{"C", "DE", false}, {"O", "Morvane", false}, {"CN", "Client One", false}}, true},  // 2
    {{{"CN", "Client One", false}}, false},                                              // 3
    {{{"CN", "J\xC3\xBCrgen", false}, {"O", "Acme, Inc.", false}}, false},               // 4
    {{{"CN", "A", false}, {"OU", "B", true}, {"O", "C", false}}, false},                 // 5
    {{{"CN", "a", false}, {"OU", "b", true}, {"O", "c", false}}, false},                 // 6
};

void PrintTo(const SelectCase& c, std::ostream* out) { *out << c.name; }

class SelectsCertificate : public ::testing::TestWithParam<SelectCase> {};

TEST_P(SelectsCertificate, InTheDocumentedOrder) {
    static const std::vector<Issued> issued = [] {
        std::vector<Issued> made;
        for (const NamedEntry& entry : selectionStore) {
            Issued cert = testing::issue(testing::leafRequest("x", "", 5));
            X509_NAME* name = X509_get_subject_name(cert.cert.get());
            X509_NAME_ENTRY_free(X509_NAME_delete_entry(name, 0));
            for (const auto& [key, value, joined] : entry.name) {
                X509_NAME_add_entry_by_txt(name, key.c_str(), MBSTRING_UTF8,
                                           reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                           joined ? -1 : 0);
            }
            made.push_back(std::move(cert));
        }
        return made;
    }();
    CertificateCollection store;
    store.type = GetParam().type;
    for (std::size_t i = 0; i < issued.size(); ++i) {
        store.entries.push_back({upRef(issued[i].cert.get()), {}});
        if (selectionStore[i].key) store.entries.back().privateKey = upRef(issued[i].key.get());
    }
    EXPECT_EQ(selectCertificate(store, GetParam().subject), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectsCertificate,
    ::testing::Values(SelectCase{"dn_beats_an_earlier_substring", "CN=Client One", 3},
                      SelectCase{"dn_with_semicolons_blanks_and_key_case", " c = DE ;o=Morvane;  cn=Client One", 2},
                      SelectCase{"dn_oid_form", "OID.2.5.4.3=Client One", 3},
                      SelectCase{"dn_quoted_value", "CN=J\xC3\xBCrgen, O=\"Acme, Inc.\"", 4},
                      SelectCase{"dn_multi_valued_rdn", "CN=a+OU=b, O=c", 6},
                      SelectCase{"dn_values_keep_case", "CN=CLIENT ONE", 1}, SelectCase{"star_takes_first", "*", 0},
                      SelectCase{"star_in_pfx_takes_first_with_key", "*", 1, T::PfxBlob},
                      SelectCase{"star_in_pfx_file_too", "*", 1, T::PfxFile},
                      SelectCase{"formatted_text_exact_with_case", "CN=a OU=b, O=c", 6},
                      SelectCase{"formatted_text_other_case_is_a_substring", "CN=A OU=B, O=c", 5},
                      SelectCase{"substring_ignores_case", "client one ext", 1},
                      SelectCase{"substring_ignores_case_beyond_ascii", "J\xC3\x9CRGEN", 4},
                      SelectCase{"star_prefix_is_not_a_dn", "*Client", std::nullopt},
                      SelectCase{"nothing_found", "Nobody", std::nullopt}),
    [](const auto& test) { return std::string(test.param.name); });

// ---------------------------------------------------------------------------

TEST(WrapPublicKey, MakesAUsableOneDayCertificate) {
    const Issued source = testing::issue(testing::leafRequest("Source", "", 9));
    const X509Ptr first = wrapPublicKey(source.key.get());
    const X509Ptr second = wrapPublicKey(source.key.get());
    ASSERT_TRUE(first && second);
    EXPECT_EQ(subjectOf(first.get()), "CN=pem_cert");
    EXPECT_EQ(formatX500Name(X509_get_issuer_name(first.get())), "CN=pem_cert");
    EXPECT_EQ(X509_get_version(first.get()), X509_VERSION_3);
    EXPECT_EQ(X509_get_signature_nid(first.get()), NID_sha256WithRSAEncryption);
    EXPECT_EQ(EVP_PKEY_eq(X509_get0_pubkey(first.get()), source.key.get()), 1);
    EXPECT_NE(ASN1_INTEGER_cmp(X509_get0_serialNumber(first.get()), X509_get0_serialNumber(second.get())), 0);
    int days = -1, seconds = -1;
    ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(first.get()), X509_get0_notAfter(first.get())), 1);
    EXPECT_EQ(days * 86400 + seconds, 86400);
    // The key is no RSA key, so the certificate does not count as self-signed
    // and its signature digest must pass OpenSSL's default security level.
    SslCtxPtr context(SSL_CTX_new(TLS_client_method()));
    ASSERT_EQ(SSL_CTX_use_certificate(context.get(), first.get()), 1);
    EXPECT_EQ(SSL_CTX_use_PrivateKey(context.get(), source.key.get()), 1);
    EXPECT_FALSE(wrapPublicKey(nullptr));
}

}  // namespace
}  // namespace platform::security
