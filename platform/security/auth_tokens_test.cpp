// The token client against real peers: a Kerberos realm started for the
// test (krb5kdc on loopback, set up by tests/support/kerberos_realm.py),
// gss-ntlmssp, and GSSAPI's own acceptor reading the service keytab or the
// NTLM user file. Certificates for the channel binding come from the openssl
// command, which also computes the expected hashes.
#include "platform/security/auth_tokens.h"

#include <fcntl.h>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern char** environ;

// gss-ntlmssp as packaged leaks digests it fetches and parts of its
// credentials inside itself; what we hold is still checked, since the glue's
// own handles are allocated outside it. Telling those leaks apart needs whole
// stacks: libcrypto has no frame pointers to walk.
extern "C" const char* __lsan_default_suppressions() { return "leak:gssntlmssp.so\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace platform::security {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr char kRealm[] = "MORVANE.TEST";
constexpr char kUser[] = "alice";
constexpr char kPassword[] = "Alice-Pass-1";
constexpr char kNtlmDomain[] = "MORVANE";
constexpr char kNtlmUser[] = "bob";
constexpr char kNtlmPassword[] = "Bob-Pass-2";

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

// The object identifiers as DER, tag and length included.
const Bytes kKerberosOidDer{0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x12, 0x01, 0x02, 0x02};
const Bytes kNtlmOidDer{0x06, 0x0a, 0x2b, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x02, 0x0a};

bool contains(const Bytes& haystack, const Bytes& needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The realm helper as a child process: it prints the environment of the
// realm, then "ready", and takes everything down when its standard input
// closes, so a test that dies leaves no KDC behind.
class RealmProcess {
public:
    // Empty on success, else why the realm is not there; `skip` tells
    // whether that is because the Kerberos tools are not installed.
    std::string start(bool& skip) {
        skip = false;
        int in[2];
        int out[2];
        // Close-on-exec, so that no other child keeps the helper's input open.
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{"/usr/bin/python3", KERBEROS_REALM_SCRIPT,
                                      "--realm",          kRealm,
                                      "--user",           std::string(kUser) + ":" + kPassword,
                                      "--service",        "HTTP/localhost"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        // The helper has its own time limits for every step.
        FILE* lines = fdopen(out[0], "r");
        if (pid_ <= 0) {
            std::fclose(lines);
            return "could not run python3";
        }
        char buffer[1024];
        std::string result = "the realm helper ended early (see its standard error)";
        while (std::fgets(buffer, sizeof buffer, lines) != nullptr) {
            std::string line(buffer);
            if (line.ends_with('\n')) line.pop_back();
            if (line == "ready") {
                result.clear();
                break;
            }
            if (line.starts_with("missing=")) {
                skip = true;
                result = "Kerberos tools not installed (./run setup installs them): " + line.substr(8);
                break;
            }
            if (const auto equals = line.find('='); equals != std::string::npos) {
                env_.emplace_back(line.substr(0, equals), line.substr(equals + 1));
                setenv(env_.back().first.c_str(), env_.back().second.c_str(), 1);
            }
        }
        std::fclose(lines);
        return result;
    }

    std::string env(const std::string& name) const {
        for (const auto& [key, value] : env_) {
            if (key == name) return value;
        }
        return {};
    }

    // Closing its standard input ends the helper, which stops the KDC and
    // removes its folder first.
    ~RealmProcess() {
        if (stdin_ >= 0) close(stdin_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        for (const auto& entry : env_) unsetenv(entry.first.c_str());
    }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    std::vector<std::pair<std::string, std::string>> env_;
};

// GSSAPI's acceptor: Kerberos through SPNEGO from the keytab in KRB5_KTNAME,
// or NTLM from the users in NTLM_USER_FILE.
class Acceptor {
public:
    explicit Acceptor(AuthPackage package) {
        static const gss_OID_desc spnego{6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};
        static const gss_OID_desc ntlm{10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};
        gss_OID_set_desc mechanisms{1, const_cast<gss_OID>(package == AuthPackage::Negotiate ? &spnego : &ntlm)};
        OM_uint32 minor = 0;
        major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms, GSS_C_ACCEPT, &credential_,
                                 nullptr, nullptr);
    }
    ~Acceptor() {
        OM_uint32 minor = 0;
        if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
        if (credential_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credential_);
    }

    // One token in, the answer out; `major` holds the acceptor's status.
    Bytes accept(const Bytes& token, const Bytes& bindings) {
        gss_buffer_desc input{token.size(), const_cast<std::uint8_t*>(token.data())};
        gss_channel_bindings_struct channel{};
        channel.application_data = {bindings.size(), const_cast<std::uint8_t*>(bindings.data())};
        gss_buffer_desc output = GSS_C_EMPTY_BUFFER;
        gss_name_t source = GSS_C_NO_NAME;
        OM_uint32 minor = 0;
        major = gss_accept_sec_context(&minor, &context_, credential_, &input,
                                       bindings.empty() ? GSS_C_NO_CHANNEL_BINDINGS : &channel, &source, nullptr,
                                       &output, nullptr, nullptr, nullptr);
        Bytes answer(static_cast<std::uint8_t*>(output.value),
                     static_cast<std::uint8_t*>(output.value) + output.length);
        gss_release_buffer(&minor, &output);
        if (source != GSS_C_NO_NAME) {
            gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
            if (!GSS_ERROR(gss_display_name(&minor, source, &text, nullptr))) {
                client.assign(static_cast<const char*>(text.value), text.length);
                // gss-ntlmssp counts the terminating zero in the length.
                if (!client.empty() && client.back() == '\0') client.pop_back();
            }
            gss_release_buffer(&minor, &text);
            gss_release_name(&minor, &source);
        }
        return answer;
    }

    OM_uint32 major = GSS_S_FAILURE;
    std::string client;

private:
    gss_cred_id_t credential_ = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
};

struct Outcome {
    SecStatus client = SEC_E_INTERNAL_ERROR;  // the client's last status
    std::string clientDetail;
    OM_uint32 acceptor = GSS_S_FAILURE;  // the acceptor's last status
    std::string acceptedAs;
    int tokens = 0;  // tokens the client produced
    Bytes firstToken;
};

// Runs the exchange the way an HTTP client does: each client token goes to
// the acceptor, each answer back to the client, until one side is done.
Outcome exchange(AuthClient& client, AuthPackage package, std::string_view target, const Bytes& clientBindings,
                 const Bytes& acceptorBindings) {
    Outcome outcome;
    Acceptor acceptor(package);
    if (GSS_ERROR(acceptor.major)) {
        ADD_FAILURE() << "the acceptor has no credential";
        return outcome;
    }
    Bytes challenge;
    for (int round = 0; round < 4; ++round) {
        const AuthStep step = client.initialize(target, challenge, clientBindings);
        outcome.client = step.status;
        outcome.clientDetail = step.detail;
        if (secFailed(step.status)) break;
        if (!step.token.empty()) {
            if (outcome.tokens++ == 0) outcome.firstToken = step.token;
            challenge = acceptor.accept(step.token, acceptorBindings);
            outcome.acceptor = acceptor.major;
            outcome.acceptedAs = acceptor.client;
            if (GSS_ERROR(acceptor.major)) break;
        }
        if (step.status == SEC_E_OK || challenge.empty()) break;
    }
    return outcome;
}

class AuthTokensTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        realm_ = new RealmProcess;
        bool skip = false;
        problem_ = realm_->start(skip);
        skipped_ = skip;
        folder_ = fs::temp_directory_path() / ("auth-tokens-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        // gss-ntlmssp's user file (Heimdal's format); NTLMUSER makes bob the
        // default NTLM user of this process.
        std::ofstream(folder_ / "ntlm-users") << kNtlmDomain << ':' << kNtlmUser << ':' << kNtlmPassword << '\n';
        setenv("NTLM_USER_FILE", (folder_ / "ntlm-users").c_str(), 1);
        setenv("NTLMUSER", kNtlmUser, 1);
    }

    static void TearDownTestSuite() {
        delete realm_;
        realm_ = nullptr;
        unsetenv("NTLM_USER_FILE");
        unsetenv("NTLMUSER");
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    void SetUp() override {
        if (skipped_) GTEST_SKIP() << problem_;
        ASSERT_EQ(problem_, "") << "the Kerberos realm did not start";
        ccache_ = realm_->env("KRB5CCNAME");
        std::remove(ccache_.substr(5).c_str());  // no cache unless a test makes one
    }

    static void kinit(const std::string& principal, const std::string& password) {
        FILE* pipe = popen(("kinit " + principal + " >/dev/null 2>&1").c_str(), "w");
        ASSERT_NE(pipe, nullptr);
        std::fputs((password + "\n").c_str(), pipe);
        ASSERT_EQ(pclose(pipe), 0) << "kinit " << principal;
    }

    static AuthIdentity alice() { return {kUser, kRealm, kPassword}; }
    static AuthIdentity bob() { return {kNtlmUser, kNtlmDomain, kNtlmPassword}; }

    static inline RealmProcess* realm_ = nullptr;
    static inline std::string problem_;
    static inline bool skipped_ = false;
    static inline fs::path folder_;
    std::string ccache_;
};

const std::string kAlice = std::string(kUser) + "@" + kRealm;

// Every way of naming the user and the service that must reach the same
// principal, through SPNEGO, with mutual authentication completed by the
// client.
TEST_F(AuthTokensTest, NegotiateWithPasswordIsAcceptedForEachNameForm) {
    struct Case {
        AuthIdentity identity;
        std::string target;
    } cases[] = {
        {alice(), "HTTP/localhost"},
        {{kUser, "", kPassword}, "HTTP/localhost"},                  // the default realm
        {{kUser, "morvane.test", kPassword}, "localhost"},           // realm in lower case, bare host
        {{kAlice, "", kPassword}, "HTTP/localhost@MORVANE.TEST"},    // whole principal, KerberosSPN with realm
        {splitUserDomain("MORVANE.TEST\\alice"), "HTTP/localhost"},  // down-level form
    };
    for (auto& [identity, target] : cases) {
        SCOPED_TRACE(identity.user + " / " + identity.domain + " -> " + target);
        identity.password = kPassword;
        AuthClient client;
        ASSERT_EQ(client.acquire(AuthPackage::Negotiate, identity), SEC_E_OK) << client.detail();
        const Outcome outcome = exchange(client, AuthPackage::Negotiate, target, {}, {});
        EXPECT_EQ(outcome.client, SEC_E_OK) << outcome.clientDetail;
        EXPECT_EQ(outcome.acceptor, GSS_S_COMPLETE);
        EXPECT_EQ(outcome.acceptedAs, kAlice);
    }
    // The password credential stays in memory: the user's cache is untouched.
    EXPECT_FALSE(fs::exists(ccache_.substr(5)));
}

TEST_F(AuthTokensTest, NegotiateUsesTheLoggedOnUsersCache) {
    kinit(kUser, kPassword);
    for (const auto& identity : {std::optional<AuthIdentity>{}, std::optional<AuthIdentity>{AuthIdentity{}}}) {
        AuthClient client;
        ASSERT_EQ(client.acquire("negotiate", identity), SEC_E_OK) << client.detail();
        const Outcome outcome = exchange(client, AuthPackage::Negotiate, "HTTP/localhost", {}, {});
        EXPECT_EQ(outcome.client, SEC_E_OK) << outcome.clientDetail;
        EXPECT_EQ(outcome.acceptedAs, kAlice);
        // Kerberos alone is offered even though NTLM default credentials
        // exist for this process: SPNEGO's list names no NTLM.
        EXPECT_TRUE(contains(outcome.firstToken, kKerberosOidDer));
        EXPECT_FALSE(contains(outcome.firstToken, kNtlmOidDer));
        EXPECT_EQ(outcome.tokens, 1);
    }
}

TEST_F(AuthTokensTest, WithoutDefaultCredentialsThereAreNone) {
    // No Kerberos cache. NTLM could offer default credentials here; Negotiate
    // must not use them.
    AuthClient negotiate;
    EXPECT_EQ(negotiate.acquire(AuthPackage::Negotiate, std::nullopt), SEC_E_NO_CREDENTIALS);
    EXPECT_NE(negotiate.detail().find("gss_acquire_cred"), std::string::npos) << negotiate.detail();
    EXPECT_EQ(negotiate.initialize("HTTP/localhost", {}).status, SEC_E_INVALID_HANDLE);

    // No NTLM user file (and no winbind on this machine).
    const std::string users = std::getenv("NTLM_USER_FILE");
    unsetenv("NTLM_USER_FILE");
    AuthClient ntlm;
    EXPECT_EQ(ntlm.acquire(AuthPackage::Ntlm, std::nullopt), SEC_E_NO_CREDENTIALS) << ntlm.detail();
    setenv("NTLM_USER_FILE", users.c_str(), 1);
}

TEST_F(AuthTokensTest, NegotiateCredentialFailures) {
    struct Case {
        AuthIdentity identity;
        SecStatus expected;
    } cases[] = {
        {{kUser, kRealm, "wrong"}, SEC_E_LOGON_DENIED},
        {{"mallory", kRealm, "whatever"}, SEC_E_UNKNOWN_CREDENTIALS},
        {{kUser, "NO.SUCH.REALM", kPassword}, SEC_E_NO_AUTHENTICATING_AUTHORITY},
    };
    for (const auto& [identity, expected] : cases) {
        SCOPED_TRACE(identity.user + "@" + identity.domain);
        AuthClient client;
        EXPECT_EQ(client.acquire(AuthPackage::Negotiate, identity), expected) << client.detail();
        EXPECT_FALSE(client.detail().empty());
    }
}

TEST_F(AuthTokensTest, NegotiateForUnknownServiceFails) {
    AuthClient client;
    ASSERT_EQ(client.acquire(AuthPackage::Negotiate, alice()), SEC_E_OK) << client.detail();
    const AuthStep step = client.initialize("HTTP/nowhere.example", {});
    EXPECT_EQ(step.status, SEC_E_TARGET_UNKNOWN) << step.detail;
    EXPECT_TRUE(step.token.empty());
    EXPECT_EQ(client.initialize("HTTP/nowhere.example", {}).status, SEC_E_INVALID_HANDLE);
}

// The acceptor compares the bindings it sees on its own channel with the
// ones the client put in its token.
TEST_F(AuthTokensTest, ChannelBindingsMustMatchTheAcceptors) {
    const Bytes ours = bytesOf("tls-server-end-point:0123456789abcdef0123456789abcdef");
    const Bytes theirs = bytesOf("tls-server-end-point:fedcba9876543210fedcba9876543210");
    // Both acceptors let a token without bindings through, so a refusal of
    // other bindings is what shows ours were carried. They say it
    // differently: Kerberos as bad bindings, NTLM as a defective token (the
    // binding is one field of its last message).
    struct Case {
        AuthPackage package;
        Bytes client;
        Bytes acceptor;
        OM_uint32 expected;
    } cases[] = {
        {AuthPackage::Negotiate, ours, ours, GSS_S_COMPLETE},
        {AuthPackage::Negotiate, ours, theirs, GSS_S_BAD_BINDINGS},
        {AuthPackage::Ntlm, ours, ours, GSS_S_COMPLETE},
        {AuthPackage::Ntlm, ours, theirs, GSS_S_DEFECTIVE_TOKEN},
    };
    for (const auto& [package, clientBindings, acceptorBindings, expected] : cases) {
        SCOPED_TRACE(std::string(authPackageName(package)) + " " +
                     std::string(clientBindings.begin(), clientBindings.end()) + " / " +
                     std::string(acceptorBindings.begin(), acceptorBindings.end()));
        AuthClient client;
        ASSERT_EQ(client.acquire(package, package == AuthPackage::Ntlm ? bob() : alice()), SEC_E_OK) << client.detail();
        const Outcome outcome = exchange(client, package, "HTTP/localhost", clientBindings, acceptorBindings);
        EXPECT_EQ(GSS_ROUTINE_ERROR(outcome.acceptor) | (outcome.acceptor & GSS_S_CONTINUE_NEEDED), expected);
        if (expected == GSS_S_COMPLETE) {
            EXPECT_EQ(outcome.client, SEC_E_OK) << outcome.clientDetail;
        }
    }
}

TEST_F(AuthTokensTest, NtlmExchangeCompletesWithTheRightPassword) {
    struct Case {
        std::optional<AuthIdentity> identity;
        bool accepted;
    } cases[] = {
        {bob(), true},
        {splitUserDomain("MORVANE\\bob"), true},
        {std::nullopt, true},  // NTLMUSER's entry in the user file
        {AuthIdentity{kNtlmUser, kNtlmDomain, "wrong"}, false},
    };
    for (auto& [identity, accepted] : cases) {
        SCOPED_TRACE(identity ? ntlmUserName(*identity) + (accepted ? "" : " (wrong password)") : "default");
        if (identity && identity->password.empty()) identity->password = kNtlmPassword;
        AuthClient client;
        ASSERT_EQ(client.acquire("NTLM", identity), SEC_E_OK) << client.detail();
        const Outcome outcome = exchange(client, AuthPackage::Ntlm, "localhost", {}, {});
        // negotiate, then authenticate; the client is done after the second.
        EXPECT_EQ(outcome.tokens, 2);
        EXPECT_EQ(outcome.client, SEC_E_OK) << outcome.clientDetail;
        if (accepted) {
            EXPECT_EQ(outcome.acceptor, GSS_S_COMPLETE);
            EXPECT_EQ(outcome.acceptedAs, std::string(kNtlmDomain) + "\\" + kNtlmUser);
        } else {
            EXPECT_TRUE(GSS_ERROR(outcome.acceptor));
        }
    }
}

TEST_F(AuthTokensTest, NtlmRejectsAChallengeThatIsNotOne) {
    using namespace std::string_view_literals;
    // Cut after the signature and message type; then not NTLM at all.
    for (const auto challenge : {"NTLMSSP\0\2\0\0\0"sv, "Negotiate"sv}) {
        AuthClient client;
        ASSERT_EQ(client.acquire(AuthPackage::Ntlm, bob()), SEC_E_OK) << client.detail();
        ASSERT_EQ(client.initialize("localhost", {}).status, SEC_I_CONTINUE_NEEDED);
        const AuthStep step = client.initialize("localhost", bytesOf(challenge));
        EXPECT_EQ(step.status, SEC_E_INVALID_TOKEN) << step.detail;
        EXPECT_TRUE(step.token.empty());
        EXPECT_EQ(client.initialize("localhost", {}).status, SEC_E_INVALID_HANDLE);
    }
}

TEST(AuthPackages, UnknownPackageNameIsNotFound) {
    AuthClient client;
    EXPECT_EQ(client.acquire("Kerberos", std::nullopt), SEC_E_SECPKG_NOT_FOUND);
    EXPECT_NE(client.detail().find("Kerberos"), std::string::npos);
    EXPECT_EQ(authPackageFromName("ntlm"), AuthPackage::Ntlm);
    EXPECT_EQ(authPackageFromName("NEGOTIATE"), AuthPackage::Negotiate);
    EXPECT_EQ(authPackageFromName("Negotiate2"), std::nullopt);
}

// A process whose GSSAPI knows no extra mechanisms (GSS_MECH_CONFIG names an
// empty list) has no NTLM. The mechanism list is read once per process, so
// this runs in a child of its own.
TEST(AuthPackagesDeathTest, NtlmWithoutTheMechanismIsNotFound) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    setenv("GSS_MECH_CONFIG", "/dev/null", 1);
    EXPECT_EXIT(
        {
            AuthClient client;
            const SecStatus status = client.acquire(AuthPackage::Ntlm, AuthIdentity{"bob", "", "x"});
            std::fprintf(stderr, "status %08x: %s\n", status, client.detail().c_str());
            std::_Exit(status == SEC_E_SECPKG_NOT_FOUND ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "status 80090305: .*gss-ntlmssp");
    unsetenv("GSS_MECH_CONFIG");
}

TEST(AuthNames, SplitUserDomain) {
    struct Case {
        std::string_view input;
        std::string user;
        std::string domain;
    } cases[] = {
        {"CORP\\alice", "alice", "CORP"},
        {"alice@CORP.EXAMPLE", "alice", "CORP.EXAMPLE"},
        {"alice@mail.example@CORP.EXAMPLE", "alice@mail.example", "CORP.EXAMPLE"},
        {"CORP\\alice@mail.example", "alice@mail.example", "CORP"},
        {"CORP\\sub\\alice", "sub\\alice", "CORP"},
        {"alice", "alice", ""},
        {"", "", ""},
        {"\\alice", "alice", ""},
        {"alice@", "alice", ""},
    };
    for (const auto& [input, user, domain] : cases) {
        const AuthIdentity identity = splitUserDomain(input);
        EXPECT_EQ(identity.user, user) << input;
        EXPECT_EQ(identity.domain, domain) << input;
        EXPECT_EQ(identity.password, "") << input;
    }
}

TEST(AuthNames, MechanismNamesOfAnIdentityAndATarget) {
    EXPECT_EQ(kerberosPrincipal({"alice", "corp.example", ""}), "alice@CORP.EXAMPLE");
    EXPECT_EQ(kerberosPrincipal({"alice@mail.example", "CORP", ""}), "alice\\@mail.example@CORP");
    EXPECT_EQ(kerberosPrincipal({"alice@CORP", "", ""}), "alice@CORP");
    EXPECT_EQ(ntlmUserName({"alice", "CORP", ""}), "CORP\\alice");
    EXPECT_EQ(ntlmUserName({"alice", "", ""}), "alice");

    struct Case {
        AuthPackage package;
        std::string_view target;
        std::string text;
        bool principal;
    } cases[] = {
        {AuthPackage::Negotiate, "HTTP/web.example", "HTTP@web.example", false},
        {AuthPackage::Negotiate, "web.example", "HTTP@web.example", false},
        {AuthPackage::Negotiate, "HTTP/web.example@CORP", "HTTP/web.example@CORP", true},
        {AuthPackage::Ntlm, "HTTP/web.example@CORP", "HTTP@web.example", false},
        {AuthPackage::Ntlm, "web.example", "HTTP@web.example", false},
    };
    for (const auto& [package, target, text, principal] : cases) {
        const ServiceName name = serviceNameFor(package, target);
        EXPECT_EQ(name.text, text) << target;
        EXPECT_EQ(name.kerberosPrincipal, principal) << target;
    }
}

// Certificates made by the openssl command, and the binding's hash computed
// by it from the DER form.
class EndPointBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("end-point-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        // One RSA key for every RSA case: making them is the slow part.
        const std::string command = "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out '" +
                                    (folder_ / "rsa.key").string() + "' 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // A self-signed certificate in DER, made with `keyOptions` (a new key, or
    // -key rsa.key) and signed with `digest` (empty for keys that choose their
    // own).
    Bytes certificate(const std::string& name, const std::string& keyOptions, const std::string& digest) {
        const fs::path der = folder_ / (name + ".der");
        const std::string command = "cd '" + folder_.string() + "' && openssl req -x509 -nodes " + keyOptions +
                                    " -keyout " + name + ".key -subj /CN=" + name + " -days 1 " +
                                    (digest.empty() ? "" : "-" + digest) + " -outform DER -out " + name +
                                    ".der >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
        const std::string text = readFile(der);
        return Bytes(text.begin(), text.end());
    }

    Bytes expected(const std::string& name, const std::string& digest) {
        const std::string command = "cd '" + folder_.string() + "' && openssl x509 -inform DER -in " + name +
                                    ".der -outform DER | openssl dgst -" + digest + " -binary > " + name + ".hash";
        if (std::system(command.c_str()) != 0) ADD_FAILURE() << command;
        return bytesOf("tls-server-end-point:" + readFile(folder_ / (name + ".hash")));
    }

    fs::path folder_;
};

TEST_F(EndPointBindingTest, HashFollowsTheSignatureExceptWeakOnes) {
    struct Case {
        std::string name;
        std::string keyOptions;
        std::string signDigest;
        std::string bindingDigest;
    } cases[] = {
        {"rsa-sha256", "-key rsa.key", "sha256", "sha256"},
        {"rsa-sha1", "-key rsa.key", "sha1", "sha256"},
        {"rsa-md5", "-key rsa.key", "md5", "sha256"},
        {"rsa-sha512", "-key rsa.key", "sha512", "sha512"},
        // The hash of a PSS signature sits in its parameters.
        {"rsa-pss-sha384", "-key rsa.key -sigopt rsa_padding_mode:pss", "sha384", "sha384"},
        {"ec-sha384", "-newkey ec -pkeyopt ec_paramgen_curve:P-384", "sha384", "sha384"},
    };
    for (const auto& [name, keyOptions, signDigest, bindingDigest] : cases) {
        SCOPED_TRACE(name);
        const Bytes der = certificate(name, keyOptions, signDigest);
        ASSERT_FALSE(der.empty());
        const Bytes binding = tlsServerEndPointBinding(der);
        EXPECT_EQ(binding, expected(name, bindingDigest));
        // Bytes after the certificate are not part of it.
        Bytes padded = der;
        padded.insert(padded.end(), {0x00, 0x01, 0x02});
        EXPECT_EQ(tlsServerEndPointBinding(padded), binding);
    }
}

TEST_F(EndPointBindingTest, UndefinedWithoutASingleHashOrACertificate) {
    const Bytes ed25519 = certificate("ed25519", "-newkey ed25519", "");
    ASSERT_FALSE(ed25519.empty());
    EXPECT_TRUE(tlsServerEndPointBinding(ed25519).empty());
    EXPECT_TRUE(tlsServerEndPointBinding({}).empty());
    EXPECT_TRUE(tlsServerEndPointBinding(bytesOf("not a certificate")).empty());
    const Bytes rsa = certificate("cut", "-key rsa.key", "sha256");
    EXPECT_TRUE(tlsServerEndPointBinding(std::span(rsa).first(rsa.size() - 1)).empty());
}

}  // namespace
}  // namespace platform::security
