#include "crawl/resume_files.h"

#include "crawl/run_files.h"
#include "crawl/saved_run.h"
#include "platform/text_file.h"

#include <QFile>

namespace {

// Lines of `path`, or -1 when there is no such file.
int CountLines(const QString& path) {
    if (!QFile::exists(path))
        return -1;
    return static_cast<int>(ReadTextFileLines(path).size());
}

} // namespace

QString ListsQuestion(int lines) {
    return QStringLiteral("От прошлого запуска осталось %1 ссылок на списки карточек. "
                          "Удалить их и начать с начала?")
        .arg(lines);
}

QString CardsQuestion(int lines) {
    return QStringLiteral("От прошлого запуска осталось %1 ссылок на карточки. "
                          "Удалить их и начать с начала?")
        .arg(lines);
}

bool StartNeedsQuestions(const QString& baseDir) {
    const TRunFiles files(baseDir);
    return ReadSavedRun(files, false).Entries() > 0 || CountLines(files.Cards()) > 0;
}

void PrepareStartFiles(const QString& baseDir,
                       const std::function<bool(const QString& question)>& ask) {
    const TRunFiles files(baseDir);
    const TSavedRun saved = ReadSavedRun(files, false);
    const int cardLines = CountLines(files.Cards());
    if (saved.Exists && (saved.Entries() == 0 || ask(ListsQuestion(saved.Entries()))))
        DiscardSavedRun(files, saved);
    if (cardLines == 0 || (cardLines > 0 && ask(CardsQuestion(cardLines))))
        QFile::remove(files.Cards());
}
