#include "bridge/app/qt_dialogs.h"

#include <QInputDialog>
#include <QMessageBox>

#include "bridge/app/app_texts.h"
#include "bridge/app/display_text.h"
#include "bridge/app/headless_front.h"

namespace taltrix::app {

namespace {

QMessageBox::Icon toQtIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::critical: return QMessageBox::Critical;
        case BoxIcon::question: return QMessageBox::Question;
        case BoxIcon::exclamation: return QMessageBox::Warning;
        case BoxIcon::information: return QMessageBox::Information;
        case BoxIcon::none: return QMessageBox::NoIcon;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons toQtButtons(BoxButtons buttons) {
    switch (buttons) {
        case BoxButtons::ok: return QMessageBox::Ok;
        case BoxButtons::yesNo: return QMessageBox::Yes | QMessageBox::No;
        case BoxButtons::yesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

BoxAnswer fromQtButton(int button) {
    switch (button) {
        case QMessageBox::Yes: return BoxAnswer::yes;
        case QMessageBox::No: return BoxAnswer::no;
        case QMessageBox::Cancel: return BoxAnswer::cancel;
        default: return BoxAnswer::ok;
    }
}

}  // namespace

BoxAnswer QtDialogs::messageBox(std::string_view text, std::string_view title, BoxButtons buttons, BoxIcon icon) {
    const std::string_view shownTitle = title.empty() ? applicationTitle : title;
    if (answers_.answer) {
        const BoxAnswer answer = answers_.answerFor(buttons, BoxAnswer::no);
        reportBox(stderr, "message box", shownTitle, text, answerName(answer));
        return answer;
    }
    QMessageBox box(toQtIcon(icon), toDisplay(shownTitle), toDisplayLines(text), toQtButtons(buttons), parent_);
    // Escape on a Yes/No box means No, as on the other platform.
    if (buttons == BoxButtons::yesNo) {
        box.setEscapeButton(QMessageBox::No);
    }
    return fromQtButton(box.exec());
}

std::optional<std::string> QtDialogs::inputBox(std::string_view prompt, std::string_view title,
                                               std::string_view prefilled) {
    if (answers_.any()) {
        if (!answers_.input) {
            reportBox(stderr, "input box", title, prompt, "Cancel");
            return std::nullopt;
        }
        const std::string entered = fromDisplay(QString::fromStdString(*answers_.input));
        reportBox(stderr, "input box", title, prompt, "\"" + ansiToUtf8(entered) + "\"");
        return entered;
    }
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, toDisplay(title), toDisplay(prompt), QLineEdit::Normal,
                                               toDisplay(prefilled), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return fromDisplay(text);
}

}  // namespace taltrix::app
