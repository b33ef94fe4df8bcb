// The provider over a real socket against `openssl s_server`, a TLS server
// we did not write: handshake, data both ways, and the server's TLS 1.2
// renegotiation ("r" on its standard input) both followed and refused.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/security/tls_context.h"
#include "platform/security/tls_test_support.h"

extern char** environ;

namespace platform::security {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(10);

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// One `openssl s_server` process for one connection, its standard output
// and error read together.
class SServer {
public:
    SServer(const std::string& cert, const std::string& key) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        posix_spawn_file_actions_addclose(&actions, in[1]);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", cert,
                                      "-key",    key,        "-tls1_2", "-naccept",    "1"};
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(in[0]);
        close(out[1]);
        stdin_ = in[1];
        stdout_ = out[0];
    }

    ~SServer() {
        if (stdin_ >= 0) close(stdin_);
        if (stdout_ >= 0) close(stdout_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool running() const { return pid_ > 0; }

    // Reads its output until `text` shows up (true) or time runs out.
    bool waitFor(const std::string& text) {
        auto deadline = Clock::now() + kPatience;
        while (output_.find(text) == std::string::npos) {
            if (!readMore(deadline)) return false;
        }
        return true;
    }

    // The port it reports in "ACCEPT 127.0.0.1:<port>"; 0 if it never does.
    int port() {
        const std::string prefix = "ACCEPT 127.0.0.1:";
        if (!waitFor(prefix)) return 0;
        std::size_t at = output_.find(prefix) + prefix.size();
        auto deadline = Clock::now() + kPatience;
        while (output_.find('\n', at) == std::string::npos) {
            if (!readMore(deadline)) return 0;
        }
        return std::stoi(output_.substr(at));
    }

    void type(const std::string& line) {
        ssize_t written = write(stdin_, line.data(), line.size());
        (void)written;
    }

    const std::string& output() const { return output_; }

private:
    bool readMore(Clock::time_point deadline) {
        pollfd fd{stdout_, POLLIN, 0};
        if (poll(&fd, 1, remainingMs(deadline)) <= 0) return false;
        char buffer[4096];
        ssize_t got = read(stdout_, buffer, sizeof buffer);
        if (got <= 0) return false;
        output_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int stdin_ = -1;
    int stdout_ = -1;
    std::string output_;
};

class SocketLink {
public:
    SocketLink(int port, std::shared_ptr<TlsCredentials> credentials) : client(std::move(credentials)) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~SocketLink() { close(fd_); }

    bool connected() const { return connected_; }

    void send(const std::vector<std::uint8_t>& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            ssize_t sent = ::send(fd_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (sent <= 0) return;
            at += static_cast<std::size_t>(sent);
        }
    }

    // One socket read into the pending input; false on timeout or close.
    bool receive() {
        pollfd fd{fd_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(std::chrono::milliseconds(kPatience).count())) <= 0) return false;
        std::uint8_t buffer[8192];
        ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        pending.insert(pending.end(), buffer, buffer + got);
        return true;
    }

    void drop(std::size_t count) { pending.erase(pending.begin(), pending.begin() + static_cast<long>(count)); }

    // The channel's handshake loop: first call with no input, then one call
    // per read, sending every token.
    SecStatus handshake(bool fresh) {
        TokenResult step = fresh ? client.initialize("localhost", {}) : client.initialize("localhost", pending);
        for (;;) {
            drop(step.consumed);
            send(step.token);
            if (step.status != SEC_I_CONTINUE_NEEDED && step.status != SEC_E_INCOMPLETE_MESSAGE) return step.status;
            if (step.status == SEC_E_INCOMPLETE_MESSAGE || pending.empty()) {
                if (!receive()) return step.status;
            }
            step = client.initialize("localhost", pending);
        }
    }

    // Reads and decrypts until the plaintext holds `text` or something other
    // than data arrives; returns that other status, or SEC_E_OK.
    SecStatus readUntil(const std::string& text, std::string& plaintext) {
        for (;;) {
            while (!pending.empty()) {
                DecryptResult result = client.decrypt(pending);
                drop(result.consumed);
                send(result.token);
                plaintext.append(result.plaintext.begin(), result.plaintext.end());
                if (result.status == SEC_E_INCOMPLETE_MESSAGE) break;
                if (result.status != SEC_E_OK) return result.status;
            }
            if (plaintext.find(text) != std::string::npos) return SEC_E_OK;
            if (!receive()) return SEC_E_INCOMPLETE_MESSAGE;
        }
    }

    TlsContext client;
    std::vector<std::uint8_t> pending;

private:
    int fd_ = -1;
    bool connected_ = false;
};

class AgainstSServer : public ::testing::Test {
protected:
    void SetUp() override {
        testing::writePem(folder_.path() / "cert.pem", testing::TestPki::get().rsaLeaf.cert.get());
        testing::writeKeyPem(folder_.path() / "key.pem", testing::TestPki::get().rsaLeaf.key.get());
        server_ =
            std::make_unique<SServer>((folder_.path() / "cert.pem").string(), (folder_.path() / "key.pem").string());
        ASSERT_TRUE(server_->running()) << "openssl is not on the PATH";
        int port = server_->port();
        ASSERT_GT(port, 0) << server_->output();
        link_ = std::make_unique<SocketLink>(port, testing::acquireCredentials(testing::credentialOptions(0xC00)));
        ASSERT_TRUE(link_->connected());
        ASSERT_EQ(link_->handshake(true), SEC_E_OK) << link_->client.lastErrorText() << server_->output();
        EXPECT_EQ(link_->client.connectionInfo()->protocol, SP_PROT_TLS1_2_CLIENT);

        link_->send(link_->client.encrypt(bytesOf("ping from client\n")).records);
        EXPECT_TRUE(server_->waitFor("ping from client")) << server_->output();
        server_->type("hello from server\n");
        std::string text;
        EXPECT_EQ(link_->readUntil("hello from server", text), SEC_E_OK);
    }

    // Has s_server ask for a renegotiation and reads up to its HelloRequest.
    void serverRenegotiates() {
        server_->type("r\n");
        std::string text;
        ASSERT_EQ(link_->readUntil("never sent", text), SEC_I_RENEGOTIATE);
        EXPECT_TRUE(link_->client.renegotiationRequested());
    }

    static std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

    testing::TempFolder folder_;
    std::unique_ptr<SServer> server_;
    std::unique_ptr<SocketLink> link_;
};

TEST_F(AgainstSServer, RenegotiationFollowedKeepsTheConnection) {
    serverRenegotiates();
    EXPECT_EQ(link_->handshake(false), SEC_E_OK) << link_->client.lastErrorText() << server_->output();
    EXPECT_TRUE(link_->client.established());
    link_->send(link_->client.encrypt(bytesOf("after renegotiation\n")).records);
    EXPECT_TRUE(server_->waitFor("after renegotiation")) << server_->output();
    server_->type("still here\n");
    std::string text;
    EXPECT_EQ(link_->readUntil("still here", text), SEC_E_OK);
}

TEST_F(AgainstSServer, RenegotiationRefusedWithTheWarningAlert) {
    serverRenegotiates();
    TokenResult refusal = link_->client.refuseRenegotiation(link_->pending);
    ASSERT_EQ(refusal.status, SEC_E_OK);
    link_->drop(refusal.consumed);
    ASSERT_FALSE(refusal.token.empty());
    link_->send(refusal.token);
    // OpenSSL servers take a refused renegotiation they asked for as fatal and
    // say why; that is the alert arriving.
    EXPECT_TRUE(server_->waitFor("no renegotiation")) << server_->output();
    std::string text;
    SecStatus after = link_->readUntil("never sent", text);
    EXPECT_TRUE(secFailed(after) || after == SEC_I_CONTEXT_EXPIRED) << std::hex << after;
}

TEST_F(AgainstSServer, CloseNotifyBothWays) {
    TokenResult bye = link_->client.shutdown();
    ASSERT_EQ(bye.status, SEC_E_OK);
    link_->send(bye.token);
    std::string text;
    EXPECT_EQ(link_->readUntil("never sent", text), SEC_I_CONTEXT_EXPIRED);
}

}  // namespace
}  // namespace platform::security
