#include "bridge/app/dialog_answers.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace taltrix::app {

std::optional<BoxAnswer> parseAnswer(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "yes") {
        return BoxAnswer::yes;
    }
    if (lower == "no") {
        return BoxAnswer::no;
    }
    if (lower == "cancel") {
        return BoxAnswer::cancel;
    }
    return std::nullopt;
}

std::string_view answerName(BoxAnswer answer) {
    switch (answer) {
        case BoxAnswer::ok: return "OK";
        case BoxAnswer::yes: return "Yes";
        case BoxAnswer::no: return "No";
        case BoxAnswer::cancel: return "Cancel";
    }
    return "OK";
}

BoxAnswer DialogAnswers::answerFor(BoxButtons buttons, BoxAnswer fallback) const {
    if (buttons == BoxButtons::ok) {
        return BoxAnswer::ok;
    }
    const BoxAnswer chosen = answer.value_or(fallback);
    if (buttons == BoxButtons::yesNo && chosen == BoxAnswer::cancel) {
        return BoxAnswer::no;
    }
    return chosen;
}

DialogAnswers dialogAnswers(const std::optional<std::string>& answerOption,
                            const std::optional<std::string>& inputOption) {
    DialogAnswers answers;
    if (answerOption) {
        answers.answer = parseAnswer(*answerOption);
    } else if (const char* env = std::getenv(answerVariable); env != nullptr) {
        answers.answer = parseAnswer(env);
    }
    if (inputOption) {
        answers.input = *inputOption;
    } else if (const char* env = std::getenv(inputVariable); env != nullptr) {
        answers.input = std::string(env);
    }
    return answers;
}

}  // namespace taltrix::app
