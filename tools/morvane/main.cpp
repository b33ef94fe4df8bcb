// morvane: a WebSocket client on the Morvane control, driven the way any
// late-binding host drives it.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "control/include/morvane.h"
#include "platform/com/creation.h"
#include "platform/com/safearray.h"
#include "platform/text/code_page.h"
#include "tools/morvane/bench.h"
#include "tools/morvane/creation_problem.h"
#include "tools/morvane/draw_command.h"
#include "tools/morvane/echo.h"
#include "tools/morvane/event_printer.h"
#include "tools/morvane/json_text.h"
#include "tools/morvane/late_bound.h"
#include "tools/morvane/members.h"
#include "tools/morvane/options.h"
#include "tools/morvane/persistence.h"
#include "tools/morvane/session.h"

namespace {

using namespace morvane::cli;

void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string valueFields(const CallResult& result) {
    if (isByteArray(result.value)) return ",\"value\":null,\"Hex\":" + jsonString(hexOfBytes(result.value));
    return ",\"value\":" + jsonValue(result.value);
}

// Runs one option; false when the member call failed.
bool run(LateBound& control, const Action& action) {
    CallResult result;
    switch (action.kind) {
        case Action::Kind::Save:
        case Action::Kind::Load:
        case Action::Kind::SaveBag:
        case Action::Kind::LoadBag: {
            IDispatch* object = control.object();
            const bool save = action.kind == Action::Kind::Save || action.kind == Action::Kind::SaveBag;
            const bool bag = action.kind == Action::Kind::SaveBag || action.kind == Action::Kind::LoadBag;
            result = bag ? (save ? saveToBagFile(object, action.name) : loadFromBagFile(object, action.name))
                         : (save ? saveToStreamFile(object, action.name) : loadFromStreamFile(object, action.name));
            if (!result.ok()) printLine(errorLine(save ? "Save" : "Load", result));
            return result.ok();
        }
        case Action::Kind::Set:
            if (action.fromFile &&
                !codepage::multiByteToWide(65001, *action.value, codepage::ConversionMode::strict).ok()) {
                // Bytes that are not text would not survive the trip through a
                // string; the property's byte form takes them as they are.
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(action.value->data());
                SAFEARRAY* array = com::byteArrayFrom({bytes, action.value->size()});
                result = control.put(action.name + "B", com::Variant::fromArray(VT_UI1, array));
            } else {
                result = control.put(action.name, com::Variant(codepage::utf8ToUtf16(*action.value)));
            }
            break;
        case Action::Kind::Get:
            result = control.get(action.name, action.index);
            if (result.ok()) {
                std::string name = action.name;
                if (action.index) name += "(" + std::to_string(*action.index) + ")";
                printLine("{\"get\":" + jsonString(name) + valueFields(result) + "}");
            }
            break;
        case Action::Kind::Config: {
            result = control.call("Config", {com::Variant(codepage::utf8ToUtf16(action.name))});
            // A setting that was written returns nothing worth a line.
            if (result.ok() && action.name.find('=') == std::string::npos) {
                printLine("{\"config\":" + jsonString(action.name) + valueFields(result) + "}");
            }
            break;
        }
        case Action::Kind::Call: {
            std::vector<com::Variant> args;
            if (action.value) args.emplace_back(codepage::utf8ToUtf16(*action.value));
            result = control.call(action.name, std::move(args));
            if (result.ok()) {
                const bool hasValue = result.value.vt != VT_EMPTY;
                printLine("{\"call\":" + jsonString(action.name) + (hasValue ? valueFields(result) : "") + "}");
            }
            break;
        }
    }
    if (!result.ok()) printLine(errorLine(action.kind == Action::Kind::Config ? "Config" : action.name, result));
    return result.ok();
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const Options options = parseOptions(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!error.empty()) {
        std::fprintf(stderr, "morvane: %s\nTry 'morvane --help'.\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }

    com::ComPtr<IDispatch> object;
    const HRESULT created = com::createInstance(morvane::kVersionIndependentProgId, object);
    if (FAILED(created)) {
        CallResult failure;
        failure.hr = created;
        failure.description = codepage::utf8ToUtf16(creationProblem(created, morvane::kVersionIndependentProgId));
        printLine(errorLine("CreateObject", failure));
        return 1;
    }
    LateBound control(object);
    auto* events = new EventPrinter(control, options.acceptRedirects, options.acceptCert);
    DWORD cookie = 0;
    const bool advised = SUCCEEDED(adviseEvents(object.get(), events, cookie));

    bool ok = true;
    for (const Action& action : options.actions) ok = run(control, action) && ok;
    if (options.members) {
        const HRESULT listed = listMembers(object.get(), printLine);
        if (FAILED(listed)) {
            CallResult failure;
            failure.hr = listed;
            printLine(errorLine("GetTypeInfo", failure));
            ok = false;
        }
    }
    if (options.draw) {
        std::string problem;
        const HRESULT drawn =
            drawToPng(object.get(), options.draw->path, options.draw->width, options.draw->height, problem);
        if (FAILED(drawn)) {
            CallResult failure;
            failure.hr = drawn;
            failure.description = codepage::utf8ToUtf16(problem);
            printLine(errorLine("Draw", failure));
            ok = false;
        }
    }
    if (options.bench) {
        const bool configuredNoDelay = std::any_of(options.actions.begin(), options.actions.end(), [](const Action& a) {
            return a.kind == Action::Kind::Config && a.name.size() >= 10 &&
                   std::equal(a.name.begin(), a.name.begin() + 10, "tcpnodelay",
                              [](char x, char y) { return std::tolower(static_cast<unsigned char>(x)) == y; });
        });
        ok = runBench(control, *events, *options.bench, configuredNoDelay) == 0 && ok;
    }
    if (options.url) ok = runSession(control, *events, options) == 0 && ok;
    if (options.echo) ok = runEcho(control, *events, *options.echo) == 0 && ok;

    if (advised) unadviseEvents(object.get(), cookie);
    events->Release();
    return ok ? 0 : 1;
}
