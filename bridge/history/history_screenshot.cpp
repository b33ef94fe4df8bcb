#include "bridge/history/history_screenshot.h"

#include <QApplication>
#include <QDateTime>
#include <QPixmap>
#include <QTemporaryDir>
#include <cstdio>

#include "bridge/app/dialog_answers.h"
#include "bridge/app/qt_dialogs.h"
#include "bridge/history/history_window.h"
#include "bridge/history/sample_shots.h"

namespace taltrix::history {

bool renderHistoryWindow(const QString& file) {
    QTemporaryDir home;
    const std::string path = historyPath(home.path().toStdString());
    const std::int64_t session = QDateTime::currentMSecsSinceEpoch() - 45 * 60 * 1000;
    std::string error;
    {
        auto store = HistoryStore::open(path, true, error);
        if (!store) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        for (ShotEntry& e : sampleShots(session, session, 48)) store->insert(e, error);
    }
    app::QtDialogs dialogs{app::DialogAnswers{}};
    HistoryWindow window(path, session, dialogs);
    window.show();
    QApplication::processEvents();
    const bool saved = window.grab().save(file);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", file.toLocal8Bit().constData());
    return saved;
}

}  // namespace taltrix::history
