// What the shot feed does per shot, in the process: the JSON of a stored
// shot (on the history's thread), and the push of it to 0, 1 and 32 live
// clients (on the feed's thread: framing, the writes into the clients'
// sockets and the event-loop turn that hands them to the kernel). The
// clients are Qt WebSockets on a thread of their own, reading everything.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QThread>
#include <QWebSocket>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

#include "bridge/feed/feed_json.h"
#include "bridge/feed/feed_server.h"
#include "bridge/history/sample_shots.h"

namespace {

using namespace taltrix;

// A plausible stored shot, its TGC message and all.
history::ShotEntry aShot() {
    constexpr std::int64_t now = 1'765'000'000'000;
    return history::sampleShots(now - 600'000, now, 1).front();
}

void BM_ShotMessage(benchmark::State& state) {
    const history::ShotEntry entry = aShot();
    for (auto _ : state) benchmark::DoNotOptimize(feed::shotMessage(entry));
}
BENCHMARK(BM_ShotMessage);

// Live clients on a thread of their own, counting the messages they read.
class Clients {
public:
    Clients(std::uint16_t port, int count) {
        thread_.start();
        for (int i = 0; i < count; ++i) {
            auto* client = new QWebSocket();
            client->moveToThread(&thread_);
            QMetaObject::invokeMethod(client, [this, client, port] {
                QObject::connect(client, &QWebSocket::textMessageReceived, [this] { ++received; });
                client->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
            });
            clients_.push_back(client);
        }
    }
    ~Clients() {
        for (QWebSocket* client : clients_) QMetaObject::invokeMethod(client, [client] { delete client; });
        thread_.quit();
        thread_.wait();
    }
    std::atomic<long> received{0};

private:
    QThread thread_;
    std::vector<QWebSocket*> clients_;
};

void BM_PushShot(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    feed::FeedServer server(feed::FeedConfig{});
    std::string error;
    if (!server.listen(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    Clients clients(server.port(), count);
    while (server.liveClients() < count || clients.received < count) QCoreApplication::processEvents();
    const QByteArray message = QByteArray::fromStdString(feed::shotMessage(aShot()));
    long expected = count;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        server.pushShot(message);
        QCoreApplication::processEvents();
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        // Every client has it before the next shot, as shots come seconds apart.
        expected += count;
        while (clients.received < expected) QCoreApplication::processEvents();
    }
    if (server.liveClients() != count) state.SkipWithError("a client was dropped");
}
BENCHMARK(BM_PushShot)->Arg(0)->Arg(1)->Arg(32)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
