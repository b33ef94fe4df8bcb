#include "bridge/app/startup_log.h"

#include <ctime>

#include "bridge/app/app_texts.h"

namespace taltrix::app {

namespace {

constexpr std::string_view ruleLine = "_________________________________________________________________";
constexpr std::int32_t startLevel = 2;
constexpr std::int32_t startIterations = 3;
constexpr std::int32_t startMaxSize = 1200000;

}  // namespace

std::string logTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

void StartupLog::start(const std::string& programFolder, std::string_view simSoftware) {
    auto logger = std::make_unique<clsLogger>(programFolder);
    logger->setLogFile("");
    logger->setLogLevel(startLevel);
    logger->setMaxFileIterations(startIterations);
    logger->setMaxFileSize(startMaxSize);
    logger->setCurrentProcedure(std::string(simSoftware) + " for Taltrix");
    if (!logger->BeginLogging()) {
        return;
    }
    logger->WriteLog(1,
                     "Logging for " + std::string(simSoftware) + " for Taltrix " + std::string(versionText) + "\r\n");
    logger->WriteLog(1, std::string(ruleLine) + "\r\n");
    logger->WriteLog(1, "START logging at: " + logTimeNow() + "\r\n\r\n");
    logger_ = std::move(logger);
}

void StartupLog::stop() {
    if (!logger_) {
        return;
    }
    logger_->WriteLog(1, "STOP logging at: " + logTimeNow() + "\r\n");
    logger_->StopLogging();
    logger_.reset();
}

}  // namespace taltrix::app
