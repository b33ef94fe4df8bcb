// Message boxes and the input box as Qt dialogs. With preset answers
// (DialogAnswers) nothing is shown: the box goes to standard error and is
// answered at once, as in the headless front end.
#pragma once

#include "bridge/app/dialog_answers.h"
#include "bridge/app/dialogs.h"

class QWidget;

namespace taltrix::app {

class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(DialogAnswers answers) : answers_(std::move(answers)) {}

    void setParent(QWidget* parent) { parent_ = parent; }

    BoxAnswer messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon icon) override;
    std::optional<std::string> inputBox(std::string_view prompt, std::string_view title,
                                        std::string_view prefilled) override;

private:
    DialogAnswers answers_;
    QWidget* parent_ = nullptr;
};

}  // namespace taltrix::app
