// The morvane tool's command line: options that run in the order given,
// then an optional URL.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morvane::cli {

struct Action {
    enum class Kind { Set, Get, Config, Call, Save, Load, SaveBag, LoadBag } kind;
    std::string name;                  // property, method, configuration text or file
    std::optional<std::string> value;  // --set value, --call argument
    std::optional<long> index;         // --get NAME(INDEX)
    bool fromFile = false;             // --set NAME=@FILE
};

// How a handler that answers (Redirect, SSLServerAuthentication) answers.
enum class Answer { Yes, No, Policy };

struct Bench {
    std::string workload;  // latency, throughput, burst
    std::string url;
    long count = 0;
    long size = 0;
};

struct Options {
    std::vector<Action> actions;
    std::optional<std::string> url;
    std::optional<std::string> sendFile;
    Answer acceptRedirects = Answer::Policy;
    Answer acceptCert = Answer::Policy;
    std::optional<Bench> bench;
    std::optional<std::string> echo;  // --echo URL
    bool help = false;
    bool members = false;  // --members: list the members from the type information
    struct Draw {
        std::string path;
        int width = 0;
        int height = 0;
    };
    std::optional<Draw> draw;  // --draw FILE.png WIDTHxHEIGHT
};

// Fills `error` (and returns what was read so far) for a usage error.
Options parseOptions(const std::vector<std::string>& args, std::string& error);

std::string usage();

}  // namespace morvane::cli
