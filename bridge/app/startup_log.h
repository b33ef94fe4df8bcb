// The log file kept from start-up to shutdown. Delivered builds leave it
// off; configure with -DTALTRIX_STARTUP_LOG=ON to write debug.001 and the
// numbered files after it in the program folder.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "bridge/app/logger.h"

#ifndef TALTRIX_STARTUP_LOG
#define TALTRIX_STARTUP_LOG 0
#endif

namespace taltrix::app {

class StartupLog {
public:
    static constexpr bool switchedOn = TALTRIX_STARTUP_LOG != 0;

    // Sets the logger up and writes the banner; without an open file the
    // logger is dropped and nothing is logged for the rest of the run.
    void start(const std::string& programFolder, std::string_view simSoftware);
    // Writes the closing line and stops the logger.
    void stop();

    // The running logger, for the data handlers that log traffic; null when
    // logging is off or the file could not be opened.
    clsLogger* logger() const { return logger_.get(); }

private:
    std::unique_ptr<clsLogger> logger_;
};

// "yyyy-mm-dd hh:mm:ss" in local time.
std::string logTimeNow();

}  // namespace taltrix::app
