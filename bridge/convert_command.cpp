#include "bridge/convert_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "bridge/shot/shot_pipeline.h"

namespace taltrix {

namespace {

// Every message goes out at once, one per line, so that a program reading
// the other end of a pipe sees each shot when it happens.
class StandardOutputOutlet final : public SimulatorOutlet {
public:
    bool isUp() const override { return true; }
    void send(std::string_view message) override {
        std::fwrite(message.data(), 1, message.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
};

}  // namespace

int runConvert(const CommandLine& options) {
    SimulatorState state;
    if (options.club) state.currentClub = *options.club;
    StandardOutputOutlet outlet;
    ShotPipeline pipeline(state, SimulatorOutlets{&outlet, &outlet, nullptr});
    pipeline.setSimulator(simulatorFromSetting(options.sim.value_or("TGC")));

    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got > 0) {
            pipeline.receiveChunk(std::string_view(chunk, static_cast<std::size_t>(got)));
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            std::fprintf(stderr, "taltrix: reading standard input: %s\n", std::strerror(errno));
            return 1;
        }
    }
    return std::ferror(stdout) ? 1 : 0;
}

}  // namespace taltrix
