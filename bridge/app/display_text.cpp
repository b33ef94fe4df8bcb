#include "bridge/app/display_text.h"

#include "platform/text/code_page.h"

namespace taltrix::app {

QString toDisplay(std::string_view ansi) {
    return QString::fromStdU16String(codepage::multiByteToWide(codepage::CP_ACP, ansi).text);
}

std::string fromDisplay(const QString& text) {
    return codepage::wideToMultiByte(codepage::CP_ACP, text.toStdU16String()).text;
}

std::string ansiToUtf8(std::string_view ansi) {
    return codepage::utf16ToUtf8(codepage::multiByteToWide(codepage::CP_ACP, ansi).text);
}

QString toDisplayLines(std::string_view ansi) {
    QString text = toDisplay(ansi);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace taltrix::app
