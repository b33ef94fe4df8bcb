#include "bridge/history/history_writer.h"

#include <chrono>

#include "platform/text/code_page.h"

namespace taltrix::history {

void toUtf8(std::string& text) {
    bool ascii = true;
    for (const char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) text = codepage::utf16ToUtf8(codepage::multiByteToWide(codepage::CP_ACP, text).text);
}

std::int64_t nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HistoryWriter::HistoryWriter(std::unique_ptr<HistoryStore> store, std::int64_t session)
    : store_(std::move(store)), session_(session), path_(store_->path()), thread_([this] { run(); }) {}

HistoryWriter::~HistoryWriter() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HistoryWriter::shotRouted(const RoutedShot& routed) {
    ShotEntry entry;
    entry.timeMs = nowMs();
    entry.simulator = std::string(simulatorSettingText(routed.simulator));
    entry.clubInPlay = std::string(routed.clubInPlay);
    entry.shot = routed.shot;
    entry.message = std::string(routed.message);
    entry.delivered = routed.delivered;
    entry.latencyUs = std::chrono::duration<double, std::micro>(routed.sinceLastByte).count();
    entry.outcome = routed.outcome;
    entry.shotNumber = routed.shotNumber;
    post(std::move(entry));
}

void HistoryWriter::post(ShotEntry entry) {
    entry.session = session_;
    {
        const std::lock_guard lock(mutex_);
        queue_.emplace_back(std::move(entry));
        ++queued_;
    }
    wake_.notify_one();
}

void HistoryWriter::postStatus(std::string_view line) {
    {
        const std::lock_guard lock(mutex_);
        queue_.emplace_back(StatusLine{nowMs(), std::string(line)});
        ++queued_;
    }
    wake_.notify_one();
}

void HistoryWriter::setStoredListener(StoredListener listener) {
    const std::lock_guard lock(mutex_);
    storedListener_ = std::move(listener);
}

void HistoryWriter::drain() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_;
    done_.wait(lock, [&] { return stored_ >= target; });
}

std::string HistoryWriter::lastError() const {
    const std::lock_guard lock(mutex_);
    return lastError_;
}

void HistoryWriter::run() {
    std::deque<Job> jobs;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;  // stopping, and nothing left
            jobs.swap(queue_);
        }
        store(jobs);
        {
            const std::lock_guard lock(mutex_);
            stored_ += jobs.size();
        }
        jobs.clear();
        done_.notify_all();
    }
}

void HistoryWriter::store(std::deque<Job>& jobs) {
    std::string error;
    // Status lines come often and matter little one by one: one transaction
    // for all that are waiting. Shots get one each.
    std::vector<StatusLine> lines;
    for (Job& job : jobs) {
        if (auto* line = std::get_if<StatusLine>(&job)) {
            toUtf8(line->text);
            lines.push_back(std::move(*line));
            continue;
        }
        ShotEntry& entry = std::get<ShotEntry>(job);
        for (std::string* text : {&entry.clubInPlay, &entry.shot.club, &entry.shot.version, &entry.message}) {
            toUtf8(*text);
        }
        if (store_->insert(entry, error)) {
            ++shotsStored_;
            StoredListener listener;
            {
                const std::lock_guard lock(mutex_);
                listener = storedListener_;
            }
            if (listener) listener(entry);
        } else {
            const std::lock_guard lock(mutex_);
            lastError_ = "a shot could not be stored: " + error;
        }
    }
    if (!store_->insertStatusLines(lines, statusLinesKept, error)) {
        const std::lock_guard lock(mutex_);
        lastError_ = "status lines could not be stored: " + error;
    }
}

}  // namespace taltrix::history
