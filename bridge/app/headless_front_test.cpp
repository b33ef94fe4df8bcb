#include "bridge/app/headless_front.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "bridge/app/dialog_answers.h"

namespace taltrix::app {
namespace {

std::string drain(std::FILE* f) {
    std::rewind(f);
    std::string out;
    char buffer[256];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        out.append(buffer, n);
    }
    return out;
}

TEST(HeadlessFront, EachStatusIsOneLineWithBreaksEscapedAndTextInUtf8) {
    EXPECT_EQ(headlessLine("HalvexPlay data reveived.\r\n{\"a\":1}"), "HalvexPlay data reveived.\\r\\n{\"a\":1}");
    EXPECT_EQ(headlessLine("C:\\dir\n"), "C:\\\\dir\\n");
    EXPECT_EQ(headlessLine("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");

    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    HeadlessView view(out);
    view.statusLine("one\r\ntwo");
    view.statusLine("");
    EXPECT_EQ(drain(out), "one\\r\\ntwo\n\n");
    std::fclose(out);
}

TEST(HeadlessFront, BoxesGoToStandardErrorWithDefaultAnswers) {
    std::FILE* err = std::tmpfile();
    ASSERT_NE(err, nullptr);
    StreamDialogs dialogs(DialogAnswers{}, err);
    EXPECT_EQ(dialogs.messageBox("line 1\r\nline 2", "", BoxButtons::ok, BoxIcon::critical), BoxAnswer::ok);
    EXPECT_EQ(dialogs.messageBox("Quit?", "TGC for Taltrix", BoxButtons::yesNo, BoxIcon::question), BoxAnswer::no);
    EXPECT_EQ(dialogs.inputBox("Enter your valid HalvexPlay_key:", "Enter key", "old"), std::nullopt);
    EXPECT_EQ(drain(err),
              "taltrix: message box \"TGC for Taltrix\"\n  line 1\n  line 2\ntaltrix: answered OK\n"
              "taltrix: message box \"TGC for Taltrix\"\n  Quit?\ntaltrix: answered No\n"
              "taltrix: input box \"Enter key\"\n  Enter your valid HalvexPlay_key:\ntaltrix: answered Cancel\n");
    std::fclose(err);
}

TEST(HeadlessFront, PresetAnswersAndInput) {
    std::FILE* err = std::tmpfile();
    DialogAnswers answers;
    answers.answer = BoxAnswer::cancel;
    answers.input = "K\xC3\xA9Y";  // UTF-8 in, ANSI out
    StreamDialogs dialogs(answers, err);
    EXPECT_EQ(dialogs.messageBox("?", "t", BoxButtons::yesNoCancel, BoxIcon::question), BoxAnswer::cancel);
    EXPECT_EQ(dialogs.messageBox("?", "t", BoxButtons::yesNo, BoxIcon::question), BoxAnswer::no);
    EXPECT_EQ(dialogs.messageBox("!", "t", BoxButtons::ok, BoxIcon::none), BoxAnswer::ok);
    EXPECT_EQ(dialogs.inputBox("p", "t", ""), std::optional<std::string>("K\xE9Y"));
    std::fclose(err);
}

TEST(DialogAnswers, OptionBeatsEnvironment) {
    ::setenv(answerVariable, "Yes", 1);
    ::setenv(inputVariable, "from-env", 1);
    DialogAnswers fromEnv = dialogAnswers(std::nullopt, std::nullopt);
    EXPECT_EQ(fromEnv.answer, BoxAnswer::yes);
    EXPECT_EQ(fromEnv.input, "from-env");
    DialogAnswers fromOptions = dialogAnswers(std::string("no"), std::string("typed"));
    EXPECT_EQ(fromOptions.answer, BoxAnswer::no);
    EXPECT_EQ(fromOptions.input, "typed");
    ::unsetenv(answerVariable);
    ::unsetenv(inputVariable);
    EXPECT_FALSE(dialogAnswers(std::nullopt, std::nullopt).any());
    EXPECT_EQ(parseAnswer("maybe"), std::nullopt);
}

}  // namespace
}  // namespace taltrix::app
