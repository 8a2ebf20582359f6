#include "crawl/resume_files.h"

#include "platform/text_file.h"

#include <QFile>

namespace {

// Lines of `path`, or -1 when there is no such file.
int CountLines(const QString& path) {
    if (!QFile::exists(path))
        return -1;
    return static_cast<int>(ReadTextFileLines(path).size());
}

// Asks about one saved file and deletes `files` when it is empty or the answer is Yes.
void OfferToDelete(int lines, const QString& question, const QStringList& files,
                   const std::function<bool(const QString&)>& ask) {
    if (lines < 0)
        return;
    if (lines > 0 && !ask(question))
        return;
    for (const QString& file : files)
        QFile::remove(file);
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
    return CountLines(baseDir + QStringLiteral("/lists.dat")) > 0 ||
           CountLines(baseDir + QStringLiteral("/cards.dat")) > 0;
}

void PrepareStartFiles(const QString& baseDir,
                       const std::function<bool(const QString& question)>& ask) {
    const QString lists = baseDir + QStringLiteral("/lists.dat");
    const QString cards = baseDir + QStringLiteral("/cards.dat");
    const int listLines = CountLines(lists);
    OfferToDelete(listLines, ListsQuestion(listLines),
                  {lists, baseDir + QStringLiteral("/allknown.dat")}, ask);
    const int cardLines = CountLines(cards);
    OfferToDelete(cardLines, CardsQuestion(cardLines), {cards}, ask);
}
