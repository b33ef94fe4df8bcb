#include "bridge/app/headless_front.h"

#include <QCoreApplication>

#include "bridge/app/app_texts.h"
#include "bridge/app/display_text.h"

namespace taltrix::app {

std::string headlessLine(std::string_view ansiMessage) {
    std::string line;
    for (const char c : ansiToUtf8(ansiMessage)) {
        switch (c) {
            case '\\': line += "\\\\"; break;
            case '\r': line += "\\r"; break;
            case '\n': line += "\\n"; break;
            default: line += c; break;
        }
    }
    return line;
}

void HeadlessView::statusLine(std::string_view message) {
    const std::string line = headlessLine(message) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void HeadlessView::letEventsRun() { QCoreApplication::processEvents(); }

void HeadlessView::endProgram() { QCoreApplication::exit(0); }

void reportBox(std::FILE* err, std::string_view kind, std::string_view title, std::string_view text,
               std::string_view answer) {
    std::string report = "taltrix: " + std::string(kind) + " \"" + ansiToUtf8(title) + "\"\n";
    std::string body = ansiToUtf8(text);
    std::size_t start = 0;
    while (start <= body.size()) {
        std::size_t stop = body.find('\n', start);
        if (stop == std::string::npos) {
            stop = body.size();
        }
        std::string_view line(body.data() + start, stop - start);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        report += "  ";
        report += line;
        report += '\n';
        start = stop + 1;
    }
    report += "taltrix: answered " + std::string(answer) + "\n";
    std::fwrite(report.data(), 1, report.size(), err);
    std::fflush(err);
}

BoxAnswer StreamDialogs::messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon) {
    const BoxAnswer answer = answers_.answerFor(buttons, BoxAnswer::no);
    reportBox(err_, "message box", title.empty() ? applicationTitle : title, text, answerName(answer));
    return answer;
}

std::optional<std::string> StreamDialogs::inputBox(std::string_view prompt, std::string_view title, std::string_view) {
    if (!answers_.input) {
        reportBox(err_, "input box", title, prompt, "Cancel");
        return std::nullopt;
    }
    const std::string entered = fromDisplay(QString::fromStdString(*answers_.input));
    reportBox(err_, "input box", title, prompt, "\"" + ansiToUtf8(entered) + "\"");
    return entered;
}

}  // namespace taltrix::app
