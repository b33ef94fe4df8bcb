// A second WebSocket client for the client benchmarks, on Boost.Beast's
// synchronous API: the yardstick morvane --bench is compared with, since the
// plain-TCP reference pays for no framing, masking or TLS at all.
//
// Usage: beast_reference_client latency|throughput|burst URL COUNT SIZE
//   URL is ws://HOST:PORT/PATH or wss://HOST:PORT/PATH; over wss the server's
//   certificate must chain to the file BENCH_CAFILE names and match HOST.
// Connecting is not timed, nor is the close (code 1000) after the workload.
// Prints one JSON line in the format morvane --bench uses.
#include <algorithm>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Url {
    bool secure = false;
    std::string host;
    std::string port;
    std::string path = "/";
};

bool parseUrl(std::string_view text, Url& url) {
    if (text.starts_with("wss://")) {
        url.secure = true;
        text.remove_prefix(6);
    } else if (text.starts_with("ws://")) {
        text.remove_prefix(5);
    } else {
        return false;
    }
    const std::size_t slash = text.find('/');
    if (slash != std::string_view::npos) url.path = std::string(text.substr(slash));
    const std::string_view authority = text.substr(0, slash);
    const std::size_t colon = authority.rfind(':');
    url.host = std::string(authority.substr(0, colon));
    url.port = colon == std::string_view::npos ? (url.secure ? "443" : "80") : std::string(authority.substr(colon + 1));
    return !url.host.empty() && !url.port.empty();
}

struct Outcome {
    bool ok = true;
    std::string error;
    long messages = 0;
    long long bytes = 0;
    double seconds = 0;
    std::vector<double> latenciesUs;
};

// Message i of a run: its number and a colon, then one letter repeated, so
// that no two messages of a run are alike and an echo of the wrong one shows.
void stampMessage(long i, std::vector<char>& out) {
    const std::string number = std::to_string(i) + ":";
    const std::size_t head = std::min(number.size(), out.size());
    std::memcpy(out.data(), number.data(), head);
    std::memset(out.data() + head, 'a' + static_cast<int>(i % 26), out.size() - head);
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    return values[std::max<std::size_t>(rank, 1) - 1];
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void printResult(const std::string& workload, const Outcome& outcome) {
    std::printf("{\"client\":\"beast\",\"workload\":%s,\"ok\":%s,\"messages\":%ld,\"bytes\":%lld,\"seconds\":%.6f",
                jsonString(workload).c_str(), outcome.ok ? "true" : "false", outcome.messages, outcome.bytes,
                outcome.seconds);
    if (workload == "latency") {
        std::printf(",\"median_us\":%.1f,\"p99_us\":%.1f", percentile(outcome.latenciesUs, 0.5),
                    percentile(outcome.latenciesUs, 0.99));
    }
    if (!outcome.ok) std::printf(",\"error\":%s", jsonString(outcome.error).c_str());
    std::printf("}\n");
    std::fflush(stdout);
}

void fail(Outcome& outcome, std::string error) {
    outcome.ok = false;
    outcome.error = std::move(error);
}

// Latency and throughput: one message out, its echo back and compared byte
// for byte, COUNT times.
template <class Stream>
void roundTrips(websocket::stream<Stream>& ws, long count, std::size_t size, bool binary, Outcome& outcome) {
    ws.binary(binary);
    std::vector<char> out(size);
    beast::flat_buffer in;
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < count; ++i) {
        stampMessage(i, out);
        const Clock::time_point sent = Clock::now();
        ws.write(asio::buffer(out));
        in.consume(in.size());
        ws.read(in);
        const bool same =
            ws.got_binary() == binary && in.size() == size && std::memcmp(in.data().data(), out.data(), size) == 0;
        if (!same) return fail(outcome, "echo " + std::to_string(i) + " differs from what was sent");
        outcome.latenciesUs.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        ++outcome.messages;
        outcome.bytes += static_cast<long long>(size);
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

// Burst: "go", then COUNT text messages of SIZE bytes, each checked as it
// comes, as morvane checks them in its events.
template <class Stream>
void burst(websocket::stream<Stream>& ws, long count, std::size_t size, Outcome& outcome) {
    ws.text(true);
    beast::flat_buffer in;
    const Clock::time_point start = Clock::now();
    ws.write(asio::buffer(std::string_view("go")));
    for (long i = 0; i < count; ++i) {
        in.consume(in.size());
        ws.read(in);
        if (!ws.got_text() || in.size() != size) {
            return fail(outcome, "message " + std::to_string(i) + " is not a text message of " + std::to_string(size) +
                                     " bytes");
        }
        ++outcome.messages;
        outcome.bytes += static_cast<long long>(size);
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
}

// Everything after the TCP connection (and the TLS handshake, for wss).
template <class Stream>
void runOn(websocket::stream<Stream>& ws, const Url& url, const std::string& workload, long count, std::size_t size,
           Outcome& outcome) {
    websocket::permessage_deflate noCompression;
    noCompression.client_enable = false;
    ws.set_option(noCompression);
    ws.auto_fragment(false);
    ws.write_buffer_bytes(65536);
    ws.read_message_max(std::max<std::uint64_t>(size, 1 << 20));
    ws.handshake(url.host + ":" + url.port, url.path);
    try {
        if (workload == "burst") {
            burst(ws, count, size, outcome);
        } else {
            roundTrips(ws, count, size, workload == "throughput", outcome);
        }
    } catch (const std::exception& error) {
        fail(outcome, std::string("message ") + std::to_string(outcome.messages) + ": " + error.what());
        return;
    }
    // Closing is not timed, and a close that goes wrong does not spoil the
    // figures: the workload is done by then.
    beast::error_code ignored;
    ws.close(websocket::close_code::normal, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s latency|throughput|burst URL COUNT SIZE\n", argv[0]);
        return 2;
    }
    const std::string workload = argv[1];
    const long count = std::atol(argv[3]);
    const long sizeArgument = std::atol(argv[4]);
    Url url;
    if ((workload != "latency" && workload != "throughput" && workload != "burst") || !parseUrl(argv[2], url) ||
        count < 1 || sizeArgument < 0) {
        std::fprintf(stderr, "usage: %s latency|throughput|burst ws[s]://HOST:PORT/ COUNT SIZE\n", argv[0]);
        return 2;
    }
    const auto size = static_cast<std::size_t>(sizeArgument);
    Outcome outcome;
    try {
        asio::io_context io;
        tcp::resolver resolver(io);
        const auto endpoints = resolver.resolve(url.host, url.port);
        auto connect = [&](tcp::socket& socket) {
            asio::connect(socket, endpoints);
            socket.set_option(tcp::no_delay(true));
        };
        if (!url.secure) {
            websocket::stream<tcp::socket> ws(io);
            connect(beast::get_lowest_layer(ws));
            runOn(ws, url, workload, count, size, outcome);
        } else {
            asio::ssl::context tls(asio::ssl::context::tls_client);
            tls.set_verify_mode(asio::ssl::verify_peer);
            if (const char* authority = std::getenv("BENCH_CAFILE")) {
                tls.load_verify_file(authority);
            } else {
                tls.set_default_verify_paths();
            }
            websocket::stream<asio::ssl::stream<tcp::socket>> ws(io, tls);
            ws.next_layer().set_verify_callback(asio::ssl::host_name_verification(url.host));
            // Server names go out for host names only; an address is not one.
            beast::error_code notAnAddress;
            asio::ip::make_address(url.host, notAnAddress);
            if (notAnAddress && !SSL_set_tlsext_host_name(ws.next_layer().native_handle(), url.host.c_str())) {
                throw beast::system_error(
                    beast::error_code(static_cast<int>(::ERR_get_error()), asio::error::get_ssl_category()));
            }
            connect(beast::get_lowest_layer(ws));
            ws.next_layer().handshake(asio::ssl::stream_base::client);
            runOn(ws, url, workload, count, size, outcome);
        }
    } catch (const std::exception& error) {
        fail(outcome, std::string("connect failed: ") + error.what());
    }
    printResult(workload, outcome);
    return outcome.ok ? 0 : 1;
}
