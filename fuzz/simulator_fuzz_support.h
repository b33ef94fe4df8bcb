// What the simulator-message fuzz targets put around the receivers: a status
// line that shows nothing and a launch monitor that takes only well-formed
// club commands.
#pragma once

#include <cstdlib>
#include <string_view>

#include "bridge/shot/ports.h"

namespace fuzzing {

class NullStatus final : public taltrix::StatusDisplay {
public:
    void showStatus(std::string_view) override {}
    void setLatestStatus(std::string_view) override {}
};

class CheckingWriter final : public taltrix::CommandWriter {
public:
    taltrix::CommandWriteResult writeCommand(std::string_view command) override {
        if (command.size() != 14 || !command.starts_with("CLUB") || command.substr(7, 4) != "LOFT") std::abort();
        return {};
    }
};

}  // namespace fuzzing
