// Message boxes and the input box, as the application core asks for them.
// The window answers them with real dialogs; the headless front end writes
// them to standard error and answers with preset answers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace taltrix::app {

enum class BoxButtons { ok, yesNo, yesNoCancel };
enum class BoxIcon { none, critical, question, exclamation, information };
enum class BoxAnswer { ok, yes, no, cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // title empty: the application title.
    virtual BoxAnswer messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon icon) = 0;
    // The entered text, or nothing when the box was cancelled.
    virtual std::optional<std::string> inputBox(std::string_view prompt, std::string_view title,
                                                std::string_view prefilled) = 0;
};

}  // namespace taltrix::app
