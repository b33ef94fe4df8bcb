#include "tools/morvane/options.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace morvane::cli {

namespace {

bool readAnswer(const std::string& text, Answer& answer) {
    if (text == "yes") {
        answer = Answer::Yes;
    } else if (text == "no") {
        answer = Answer::No;
    } else if (text == "policy") {
        answer = Answer::Policy;
    } else {
        return false;
    }
    return true;
}

bool readNumber(const std::string& text, long& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string text;
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--members") {
            options.members = true;
        } else if (arg == "--set") {
            if (!value(text)) return options;
            const auto eq = text.find('=');
            if (eq == std::string::npos || eq == 0) {
                error = "--set takes NAME=VALUE";
                return options;
            }
            std::string setValue = text.substr(eq + 1);
            bool fromFile = false;
            // "@FILE" puts the file's contents (a certificate, say); "@@"
            // stands for a value that really starts with "@".
            if (setValue.starts_with("@@")) {
                setValue.erase(0, 1);
            } else if (setValue.starts_with("@")) {
                const std::string path = setValue.substr(1);
                std::ifstream file(path, std::ios::binary);
                std::ostringstream contents;
                contents << file.rdbuf();
                if (!file || path.empty()) {
                    error = "--set " + text.substr(0, eq) + ": cannot read the file \"" + path + "\"";
                    return options;
                }
                setValue = contents.str();
                fromFile = true;
            }
            options.actions.push_back({Action::Kind::Set, text.substr(0, eq), std::move(setValue), {}, fromFile});
        } else if (arg == "--get") {
            if (!value(text)) return options;
            Action action{Action::Kind::Get, text, {}, {}};
            if (const auto open = text.find('('); open != std::string::npos) {
                long index = 0;
                if (text.back() != ')' || !readNumber(text.substr(open + 1, text.size() - open - 2), index)) {
                    error = "--get takes NAME or NAME(INDEX)";
                    return options;
                }
                action.name = text.substr(0, open);
                action.index = index;
            }
            options.actions.push_back(std::move(action));
        } else if (arg == "--config") {
            if (!value(text)) return options;
            options.actions.push_back({Action::Kind::Config, text, {}, {}});
        } else if (arg == "--call") {
            if (!value(text)) return options;
            Action action{Action::Kind::Call, text, {}, {}};
            if (const auto eq = text.find('='); eq != std::string::npos) {
                action.name = text.substr(0, eq);
                action.value = text.substr(eq + 1);
            }
            options.actions.push_back(std::move(action));
        } else if (arg == "--save" || arg == "--load" || arg == "--save-bag" || arg == "--load-bag") {
            if (!value(text)) return options;
            const Action::Kind kind = arg == "--save"       ? Action::Kind::Save
                                      : arg == "--load"     ? Action::Kind::Load
                                      : arg == "--save-bag" ? Action::Kind::SaveBag
                                                            : Action::Kind::LoadBag;
            options.actions.push_back({kind, text, {}, {}});
        } else if (arg == "--draw") {
            Options::Draw draw;
            char separator = 0;
            char rest = 0;
            if (i + 2 >= args.size() ||
                std::sscanf(args[i + 2].c_str(), "%d%c%d%c", &draw.width, &separator, &draw.height, &rest) != 3 ||
                separator != 'x' || draw.width < 1 || draw.height < 1 || draw.width > 4096 || draw.height > 4096) {
                error = "--draw takes FILE.png WIDTHxHEIGHT (1 to 4096 pixels each way)";
                return options;
            }
            draw.path = args[i + 1];
            options.draw = draw;
            i += 2;
        } else if (arg == "--echo") {
            if (!value(text)) return options;
            options.echo = text;
        } else if (arg == "--send-file") {
            if (!value(text)) return options;
            options.sendFile = text;
        } else if (arg == "--accept-redirects" || arg == "--accept-cert") {
            if (!value(text)) return options;
            Answer& answer = arg == "--accept-redirects" ? options.acceptRedirects : options.acceptCert;
            if (!readAnswer(text, answer)) {
                error = arg + " takes yes, no or policy";
                return options;
            }
        } else if (arg == "--bench") {
            if (i + 4 >= args.size()) {
                error = "--bench takes WORKLOAD URL COUNT SIZE";
                return options;
            }
            Bench bench{args[i + 1], args[i + 2], 0, 0};
            if (!readNumber(args[i + 3], bench.count) || !readNumber(args[i + 4], bench.size) || bench.count < 1 ||
                bench.size < 0) {
                error = "--bench COUNT and SIZE are whole numbers (COUNT at least 1)";
                return options;
            }
            if (bench.workload != "latency" && bench.workload != "throughput" && bench.workload != "burst") {
                error = "--bench WORKLOAD is latency, throughput or burst";
                return options;
            }
            if (bench.workload != "burst" && bench.size == 0) {
                // The control sends nothing for an empty message, so no echo would come.
                error = "--bench SIZE is at least 1 for latency and throughput";
                return options;
            }
            options.bench = bench;
            i += 4;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option " + arg;
            return options;
        } else if (!options.url) {
            options.url = arg;
        } else {
            error = "only one URL may be given";
            return options;
        }
    }
    if (options.url && options.bench) error = "--bench takes its own URL";
    if (options.echo && (options.url || options.bench || options.sendFile)) {
        error = "--echo takes its own URL and sends only what it receives";
    }
    return options;
}

std::string usage() {
    return R"(Usage: morvane [OPTIONS] [URL]
       morvane --bench latency|throughput|burst URL COUNT SIZE
       morvane [OPTIONS] --echo URL

A WebSocket client built on the Morvane control, which it creates by ProgID
and drives through IDispatch only. Options run in the order given, before
the URL. Every result and event is one JSON object per line on standard
output.

  --set NAME=VALUE        put a property; NAME=@FILE puts the contents of
                          FILE (a certificate for SSLAcceptServerCertEncoded,
                          say; a file that is not text, such as a PFX for
                          SSLCertStore, goes as bytes to the property's byte
                          form NAMEB), NAME=@@TEXT the text "@TEXT"
  --get NAME[(INDEX)]     read a property
  --config TEXT           call Config(TEXT)
  --call METHOD[=ARG]     call a method
  --save FILE             save the control's persisted properties to FILE
                          (IPersistStreamInit, binary)
  --load FILE             load them from FILE (before any other change)
  --save-bag FILE         save them as text, one NAME=VALUE line each
                          (IPersistPropertyBag); passwords are included
  --load-bag FILE         load such a file; missing names keep defaults
  --draw FILE.png WIDTHxHEIGHT
                          draw the control as a container in design mode
                          does (IViewObject::Draw) into a PNG file
  --send-file FILE        with a URL: send FILE as one message instead of
                          standard input
  --accept-redirects yes|no|policy
  --accept-cert yes|no|policy
                          how the Redirect and SSLServerAuthentication
                          handlers answer (default: the control's verdict)
  --bench WORKLOAD URL COUNT SIZE
                          run a benchmark workload with send coalescing off
                          (TcpNoDelay, unless --config set it); prints one
                          JSON line. Over wss the certificate in the file
                          BENCH_CAFILE names (if set) is accepted in advance
  --echo URL              connect to URL and send every message back once it
                          is whole (text as text, in the UTF-8 it came in,
                          binary as binary), until the connection ends;
                          prints every event but DataIn. Never closes by
                          itself, reads no standard input, has no time
                          limit. Exit status 0 when the connection ended
                          with the close handshake, whichever side began
                          it; 1 when it could not be opened, failed or
                          dropped
  --members               list the properties, methods and events from the
                          control's type information, one JSON line each
                          (name, dispid, kind, type, params, help)
  -h, --help              this text

With a URL, morvane connects, sends each line of standard input as one
message (through DataToSend), prints events until the peer closes or
standard input ends, then disconnects.

Exit status: 0 when every member call succeeded, 1 when one failed, 2 for a
usage error.
)";
}

}  // namespace morvane::cli
