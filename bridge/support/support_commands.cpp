#include "bridge/support/support_commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bridge/app/dbus_thread_exit.h"
#include "bridge/app/program_folder.h"
#include "bridge/history/history_store.h"
#include "bridge/history/shot_csv.h"
#include "bridge/links/bluetooth_report.h"
#include "bridge/support/diagnostics_bundle.h"
#include "platform/bluetooth/bluetooth.h"

namespace taltrix::support {

namespace {

bool writeAll(std::FILE* out, const std::string& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
}

}  // namespace

std::string programFolderOf(const CommandLine& options) { return app::programFolder(options.home).path; }

std::string historyHelpText(const CommandLine& options) {
    const app::ProgramFolder folder = app::programFolder(options.home);
    return "\n" + app::programFolderHelpLine(folder) +
           "Shot history of this program folder: " + history::historyPath(folder.path) + "\n";
}

std::optional<std::int64_t> parseSince(const std::string& text) {
    const QString since = QString::fromStdString(text);
    const QDate day = QDate::fromString(since, Qt::ISODate);
    if (day.isValid() && text.size() == 10) return day.startOfDay().toMSecsSinceEpoch();
    for (const QString& format : {QStringLiteral("yyyy-MM-dd'T'HH:mm"), QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")}) {
        const QDateTime moment = QDateTime::fromString(since, format);
        if (moment.isValid()) return moment.toMSecsSinceEpoch();
    }
    return std::nullopt;
}

std::string checkSupportOptions(const CommandLine& options) {
    if (options.since && !parseSince(*options.since)) {
        return "--since takes YYYY-MM-DD or YYYY-MM-DDTHH:MM, not \"" + *options.since + "\"";
    }
    if (options.record) {
        // Said now rather than in a status line once the bridge runs.
        const int fd = ::open(options.record->c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return "--record: cannot create " + *options.record + ": " + std::strerror(errno);
        ::close(fd);
    }
    return {};
}

int runExportCsv(const CommandLine& options) {
    const std::string path = history::historyPath(programFolderOf(options));
    std::string error;
    auto store = history::HistoryStore::open(path, false, error);
    if (!store) {
        std::fprintf(stderr, "taltrix: %s\n", error.c_str());
        return 1;
    }
    history::ShotQuery query;
    if (options.since) query.fromMs = parseSince(*options.since);
    const auto shots = store->shots(query, error);
    if (!error.empty()) {
        std::fprintf(stderr, "taltrix: reading %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    const std::string csv = history::shotsCsv(shots);
    const std::string& file = *options.exportCsv;
    std::FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "wb");
    if (out == nullptr || !writeAll(out, csv) || (out != stdout && std::fclose(out) != 0)) {
        std::fprintf(stderr, "taltrix: cannot write %s: %s\n", file.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(stderr, "taltrix: %zu shots written to %s\n", shots.size(),
                 file == "-" ? "standard output" : file.c_str());
    return 0;
}

int runDiagnostics(const CommandLine& options, int& argc, char** argv) {
    // Qt's Bluetooth may start its D-Bus thread (see dbus_thread_exit.h).
    app::awaitDbusThreadAtExit();
    QCoreApplication application(argc, argv);
    DiagnosticsInput input;
    input.programFolder = programFolderOf(options);
    input.madeBy = "taltrix --diagnostics (no running bridge: the link's state is not in it)";
    std::string error;
    if (const auto manager = bluetooth::createManager(options.bluetooth, error)) {
        input.bluetooth = links::adapterReport(*manager);
    } else {
        input.bluetooth = "the Bluetooth stack cannot be reached: " + error + "\n";
    }
    if (!writeDiagnostics(*options.diagnostics, input, error)) {
        std::fprintf(stderr, "taltrix: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "taltrix: diagnostics bundle written to %s\n", options.diagnostics->c_str());
    return 0;
}

}  // namespace taltrix::support
