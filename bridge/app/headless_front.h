// The bridge without a window or tray icon (taltrix --headless): every status
// message and every label-only update is one line on standard output, and
// message boxes go to standard error with their preset answers.
//
// A line is the message in UTF-8, with "\" written as "\\", CR as "\r" and
// LF as "\n", so that a message with line breaks still makes one line.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "bridge/app/app_view.h"
#include "bridge/app/dialog_answers.h"
#include "bridge/app/dialogs.h"

namespace taltrix::app {

// The status line for one message (without its line end).
std::string headlessLine(std::string_view ansiMessage);

class HeadlessView final : public AppView {
public:
    explicit HeadlessView(std::FILE* out = stdout) : out_(out) {}

    void setMessageLabel(std::string_view) override {}
    void setTraceText(std::string_view) override {}
    void statusLine(std::string_view message) override;
    void setRawDataText(std::string_view) override {}
    void showLight(Light, Rgb, bool) override {}

    void applySimulatorChoice(const SimulatorChoice&) override {}
    bool hasWindow() const override { return false; }
    bool trayAvailable() const override { return false; }
    void deleteTrayIcon() override {}
    void addTrayIcon(WindowIcon, std::string_view) override {}
    void setWindowIcon(WindowIcon) override {}
    void applyStartLayout() override {}
    void applyDebugLayout(bool) override {}
    void selectDefaultService() override {}
    bool isMaximized() const override { return false; }
    bool isMinimized() const override { return false; }
    void showNormal() override {}
    void minimizeAndHide() override {}
    void minimizeToTaskBar() override {}
    TrayChange trayChange() override { return TrayChange::none; }
    void setBusyPointer(bool) override {}
    void letEventsRun() override;
    void endProgram() override;

private:
    std::FILE* out_;
};

// Writes each box to err and answers it without waiting: the preset answer,
// else "no" for questions and a cancelled input box.
class StreamDialogs final : public Dialogs {
public:
    explicit StreamDialogs(DialogAnswers answers, std::FILE* err = stderr) : answers_(std::move(answers)), err_(err) {}

    BoxAnswer messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon icon) override;
    std::optional<std::string> inputBox(std::string_view prompt, std::string_view title,
                                        std::string_view prefilled) override;

private:
    DialogAnswers answers_;
    std::FILE* err_;
};

// Writes a box and its answer to err; shared by the window's unattended mode.
void reportBox(std::FILE* err, std::string_view kind, std::string_view title, std::string_view text,
               std::string_view answer);

}  // namespace taltrix::app
