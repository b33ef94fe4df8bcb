// The chain policy against certificates of every kind it must tell apart,
// with the trusted roots in store folders the test points the environment
// at, and the ignore flags of SSLSecurityFlags.
#include "platform/security/chain_policy.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/security/algorithm_ids.h"
#include "platform/security/test_pki.h"

namespace platform::security {
namespace {

using testing::caRequest;
using testing::CertificateRequest;
using testing::issue;
using testing::Issued;
using testing::leafRequest;

using Chain = std::vector<std::vector<std::uint8_t>>;

struct Material {
    Issued root;         // in the user's Root store
    Issued machineRoot;  // in the machine's Root store, as DER
    Issued good;
    Issued otherHost;
    Issued selfSigned;
    Issued expired;
    Issued notYetValid;
    Issued clientAuthOnly;
    Issued intermediate;
    Issued viaIntermediate;
    Issued notACa;
    Issued underNotACa;
    Issued revoked;
    Issued wildcard;
    Issued commonNameOnly;
    Issued altNamesWithOtherCommonName;
    Issued fromMachineRoot;
    X509CrlPtr crl;

    static const Material& get() {
        static const Material material = make();
        return material;
    }

private:
    static Material make() {
        Material m;
        m.root = issue(caRequest({{"C", "DE"}, {"O", "Policy Test"}, {"CN", "Policy Root"}}, 1));
        m.machineRoot = issue(caRequest({{"CN", "Machine Root"}}, 2));
        m.good = issue(leafRequest("localhost", "DNS:localhost,IP:127.0.0.1", 100), &m.root);
        m.otherHost = issue(leafRequest("other.test", "DNS:other.test", 101), &m.root);
        m.selfSigned = issue(leafRequest("localhost", "DNS:localhost,IP:127.0.0.1", 102));
        CertificateRequest expired = leafRequest("localhost", "DNS:localhost", 103);
        expired.validFromSeconds = -10L * 86400;
        expired.validToSeconds = -86400;
        m.expired = issue(expired, &m.root);
        CertificateRequest future = leafRequest("localhost", "DNS:localhost", 104);
        future.validFromSeconds = 86400;
        future.validToSeconds = 10L * 86400;
        m.notYetValid = issue(future, &m.root);
        CertificateRequest client = leafRequest("localhost", "DNS:localhost", 105);
        client.extendedUsage = "clientAuth";
        m.clientAuthOnly = issue(client, &m.root);
        m.intermediate = issue(caRequest({{"CN", "Policy Intermediate"}}, 106), &m.root);
        m.viaIntermediate = issue(leafRequest("localhost", "DNS:localhost", 107), &m.intermediate);
        CertificateRequest notACa = caRequest({{"CN", "Not A CA"}}, 108);
        notACa.ca = false;
        notACa.keyUsage = "keyCertSign,digitalSignature";
        m.notACa = issue(notACa, &m.root);
        m.underNotACa = issue(leafRequest("localhost", "DNS:localhost", 109), &m.notACa);
        m.revoked = issue(leafRequest("localhost", "DNS:localhost", 110), &m.root);
        m.wildcard = issue(leafRequest("*.example.test", "DNS:*.example.test", 111), &m.root);
        m.commonNameOnly = issue(leafRequest("cnonly.test", "", 112), &m.root);
        m.altNamesWithOtherCommonName = issue(leafRequest("cnonly.test", "DNS:alt.test", 113), &m.root);
        m.fromMachineRoot = issue(leafRequest("localhost", "DNS:localhost", 114), &m.machineRoot);
        m.crl = testing::revocationList(m.root, {110});
        return m;
    }
};

Chain chainOf(std::initializer_list<const Issued*> certs) {
    Chain chain;
    for (const Issued* cert : certs) chain.push_back(cert->der());
    return chain;
}

Chain tampered(const Issued& cert) {
    Chain chain{cert.der()};
    chain.front()[chain.front().size() - 3] ^= 0x40;  // inside the signature value
    return chain;
}

// Stores as a user and a machine would have them, in fresh folders.
class Stores {
public:
    explicit Stores(bool withCrl, bool intermediateInCaStore)
        : user_("TALTRIX_CERT_USER_DIR", (folder_.path() / "user").string()),
          machine_("TALTRIX_CERT_MACHINE_DIR", (folder_.path() / "machine").string()) {
        const Material& m = Material::get();
        testing::writePem(folder_.path() / "user" / "Root" / "policy-root.pem", m.root.cert.get());
        testing::writeDer(folder_.path() / "machine" / "ROOT" / "machine-root.cer", m.machineRoot.cert.get());
        if (withCrl) testing::writeCrlPem(folder_.path() / "user" / "Root" / "policy-root.crl", m.crl.get());
        if (intermediateInCaStore) {
            testing::writePem(folder_.path() / "machine" / "CA" / "intermediate.pem", m.intermediate.cert.get());
        }
    }

private:
    testing::TempFolder folder_;
    testing::EnvOverride user_;
    testing::EnvOverride machine_;
};

struct PolicyCase {
    const char* name;
    std::function<Chain(const Material&)> chain;
    const char* serverName;
    std::uint32_t flags;
    PolicyStatus expected;
    bool withCrl = false;
    bool intermediateInCaStore = false;
};

class ChainPolicy : public ::testing::TestWithParam<PolicyCase> {};

TEST_P(ChainPolicy, GivesThePlatformsResult) {
    const PolicyCase& c = GetParam();
    Stores stores(c.withCrl, c.intermediateInCaStore);
    ChainPolicyResult result =
        checkServerChain(c.chain(Material::get()), c.serverName, static_cast<std::int32_t>(c.flags));
    EXPECT_TRUE(result.chainBuilt);
    EXPECT_EQ(result.status, c.expected) << std::hex << "got 0x" << result.status << " expected 0x" << c.expected
                                         << ::testing::PrintToString(result.findings);
}

constexpr std::uint32_t kNoName = 0x80000000u;

Chain good(const Material& m) { return chainOf({&m.good}); }

INSTANTIATE_TEST_SUITE_P(
    Certificates, ChainPolicy,
    ::testing::Values(
        PolicyCase{"good_by_name", good, "localhost", 0, kPolicyOk},
        PolicyCase{"good_by_name_any_case", good, "LocalHost", 0, kPolicyOk},
        PolicyCase{"good_by_ip", good, "127.0.0.1", 0, kPolicyOk},
        PolicyCase{"good_wrong_ip", good, "127.0.0.2", 0, CERT_E_CN_NO_MATCH},
        PolicyCase{"other_host", [](const Material& m) { return chainOf({&m.otherHost}); }, "localhost", 0,
                   CERT_E_CN_NO_MATCH},
        PolicyCase{"other_host_ignoring_name", [](const Material& m) { return chainOf({&m.otherHost}); }, "localhost",
                   SECURITY_FLAG_IGNORE_CERT_CN_INVALID, kPolicyOk},
        PolicyCase{"other_host_negative_flags", [](const Material& m) { return chainOf({&m.otherHost}); }, "localhost",
                   kNoName, kPolicyOk},
        PolicyCase{"self_signed", [](const Material& m) { return chainOf({&m.selfSigned}); }, "localhost", 0,
                   CERT_E_UNTRUSTEDROOT},
        PolicyCase{"self_signed_unknown_ca_ignored", [](const Material& m) { return chainOf({&m.selfSigned}); },
                   "localhost", SECURITY_FLAG_IGNORE_UNKNOWN_CA, kPolicyOk},
        PolicyCase{"self_signed_negative_still_checks_chain",
                   [](const Material& m) { return chainOf({&m.selfSigned}); }, "other.test", kNoName,
                   CERT_E_UNTRUSTEDROOT},
        PolicyCase{"expired", [](const Material& m) { return chainOf({&m.expired}); }, "localhost", 0, CERT_E_EXPIRED},
        PolicyCase{"expired_date_ignored", [](const Material& m) { return chainOf({&m.expired}); }, "localhost",
                   SECURITY_FLAG_IGNORE_CERT_DATE_INVALID, kPolicyOk},
        PolicyCase{"expired_before_name", [](const Material& m) { return chainOf({&m.expired}); }, "other.test", 0,
                   CERT_E_EXPIRED},
        PolicyCase{"not_yet_valid", [](const Material& m) { return chainOf({&m.notYetValid}); }, "localhost", 0,
                   CERT_E_EXPIRED},
        PolicyCase{"client_auth_only", [](const Material& m) { return chainOf({&m.clientAuthOnly}); }, "localhost", 0,
                   CERT_E_WRONG_USAGE},
        PolicyCase{"client_auth_only_usage_ignored", [](const Material& m) { return chainOf({&m.clientAuthOnly}); },
                   "localhost", SECURITY_FLAG_IGNORE_WRONG_USAGE, kPolicyOk},
        PolicyCase{"intermediate_sent",
                   [](const Material& m) {
                       return chainOf({&m.viaIntermediate, &m.intermediate});
                   },
                   "localhost", 0, kPolicyOk},
        PolicyCase{"intermediate_missing", [](const Material& m) { return chainOf({&m.viaIntermediate}); }, "localhost",
                   0, CERT_E_CHAINING},
        PolicyCase{"intermediate_missing_unknown_ca_ignored",
                   [](const Material& m) { return chainOf({&m.viaIntermediate}); }, "localhost",
                   SECURITY_FLAG_IGNORE_UNKNOWN_CA, kPolicyOk},
        PolicyCase{"intermediate_from_ca_store", [](const Material& m) { return chainOf({&m.viaIntermediate}); },
                   "localhost", 0, kPolicyOk, false, true},
        PolicyCase{"issuer_not_a_ca",
                   [](const Material& m) {
                       return chainOf({&m.underNotACa, &m.notACa});
                   },
                   "localhost", 0, TRUST_E_BASIC_CONSTRAINTS},
        PolicyCase{"bad_signature", [](const Material& m) { return tampered(m.good); }, "localhost", 0,
                   TRUST_E_CERT_SIGNATURE},
        PolicyCase{"revoked_with_crl", [](const Material& m) { return chainOf({&m.revoked}); }, "localhost", 0,
                   CRYPT_E_REVOKED, true},
        PolicyCase{"revoked_revocation_ignored", [](const Material& m) { return chainOf({&m.revoked}); }, "localhost",
                   SECURITY_FLAG_IGNORE_REVOCATION, kPolicyOk, true},
        PolicyCase{"revoked_without_crl", [](const Material& m) { return chainOf({&m.revoked}); }, "localhost", 0,
                   kPolicyOk},
        PolicyCase{"good_with_crl", good, "localhost", 0, kPolicyOk, true},
        PolicyCase{"machine_root", [](const Material& m) { return chainOf({&m.fromMachineRoot}); }, "localhost", 0,
                   kPolicyOk},
        PolicyCase{"wildcard_one_label", [](const Material& m) { return chainOf({&m.wildcard}); }, "relay.example.test",
                   0, kPolicyOk},
        PolicyCase{"wildcard_two_labels", [](const Material& m) { return chainOf({&m.wildcard}); },
                   "a.relay.example.test", 0, CERT_E_CN_NO_MATCH},
        PolicyCase{"wildcard_bare_domain", [](const Material& m) { return chainOf({&m.wildcard}); }, "example.test", 0,
                   CERT_E_CN_NO_MATCH},
        PolicyCase{"common_name_without_alt_names", [](const Material& m) { return chainOf({&m.commonNameOnly}); },
                   "cnonly.test", 0, kPolicyOk},
        PolicyCase{"common_name_ignored_beside_alt_names",
                   [](const Material& m) { return chainOf({&m.altNamesWithOtherCommonName}); }, "cnonly.test", 0,
                   CERT_E_CN_NO_MATCH},
        PolicyCase{"several_ignore_flags", [](const Material& m) { return chainOf({&m.selfSigned}); }, "other.test",
                   SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID, kPolicyOk}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(ChainPolicyInput, UndecodableLeafBuildsNoChain) {
    Stores stores(false, false);
    Chain garbage{{0x30, 0x03, 0x01, 0x02, 0x03}};
    ChainPolicyResult result = checkServerChain(garbage, "localhost", 0);
    EXPECT_FALSE(result.chainBuilt);
    EXPECT_EQ(result.status, CRYPT_E_ASN1_BADTAG);
    EXPECT_EQ(checkServerChain(Chain{}, "localhost", 0).status, CRYPT_E_ASN1_BADTAG);
}

TEST(ChainPolicyInput, RootsComeFromTheFoldersTheEnvironmentNames) {
    // The same good certificate with no store holding its root.
    testing::TempFolder empty;
    testing::EnvOverride user("TALTRIX_CERT_USER_DIR", empty.path().string());
    testing::EnvOverride machine("TALTRIX_CERT_MACHINE_DIR", empty.path().string());
    EXPECT_EQ(checkServerChain(good(Material::get()), "localhost", 0).status, CERT_E_CHAINING);
}

}  // namespace
}  // namespace platform::security
