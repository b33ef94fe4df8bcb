// Preset answers for message boxes and the input box, so that tests and
// unattended runs never wait for a person.
//
//   --answer yes|no|cancel   or TALTRIX_ANSWER   every question box
//   --input TEXT             or TALTRIX_INPUT    every input box (entered)
//
// An option wins over its environment variable. Boxes with an OK button only
// are answered OK. Without presets the window asks the user; the headless
// front end answers questions "no" and cancels input boxes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "bridge/app/dialogs.h"

namespace taltrix::app {

inline constexpr const char* answerVariable = "TALTRIX_ANSWER";
inline constexpr const char* inputVariable = "TALTRIX_INPUT";

struct DialogAnswers {
    std::optional<BoxAnswer> answer;
    std::optional<std::string> input;  // UTF-8, as typed on the command line

    bool any() const { return answer.has_value() || input.has_value(); }

    // The answer a question box with these buttons gets, given fallback when
    // no answer is preset. "cancel" on a Yes/No box counts as "no".
    BoxAnswer answerFor(BoxButtons buttons, BoxAnswer fallback) const;
};

// "yes", "no" or "cancel", in any letter case.
std::optional<BoxAnswer> parseAnswer(std::string_view text);
std::string_view answerName(BoxAnswer answer);

// Options first, then the environment.
DialogAnswers dialogAnswers(const std::optional<std::string>& answerOption,
                            const std::optional<std::string>& inputOption);

}  // namespace taltrix::app
