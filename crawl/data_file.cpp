#include "crawl/data_file.h"

#include "crawl/run_files.h"
#include "crawl/text_utils.h"
#include "platform/text_codec.h"
#include "platform/tick_count.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Bounds the search for a free name, so a directory that refuses every name
// cannot keep the run in a loop.
constexpr int MaxNameAttempts = 100000;

// A plain number or phone number: digits, spaces and "+ - ( ) . , /" only.
bool IsPlainNumber(const QString& value) {
    static const QString Punctuation = QStringLiteral(" +-().,/");
    for (QChar c : value) {
        if (!(c >= u'0' && c <= u'9') && !Punctuation.contains(c))
            return false;
    }
    return true;
}

// A spreadsheet opening the file takes a value that begins with one of these as a
// formula and runs it; the apostrophe makes it text. Numbers and phones such as
// "+7 (3822) 10-20-30" or "-10" are left as the site wrote them.
QString AsSpreadsheetText(const QString& value) {
    static const QString FormulaStarts = QStringLiteral("=+-@\t\r");
    if (value.isEmpty() || !FormulaStarts.contains(value[0]) || IsPlainNumber(value))
        return value;
    return u'\'' + value;
}

} // namespace

QString DataFileHeader() {
    return u"\"Страна\";\"Город\";\"Урл города (или названия региона)\";\"Рубрика\";"
           u"\"Подрубрика\";\"Урл подрубрики\";\"Название организации\";\"Адрес\";"
           u"\"Телефоны\";\"Часы работы\";\"Сайт\";\"Описание\";\"Урл организации\""_qs;
}

// Every value loses its double quotes, the country and city of the label and the
// URLs included: a quote inside a quoted field would end it early and break the
// row for any CSV reader. A value a spreadsheet would run as a formula is made text.
QString DataFileRow(const OrganisationRecord& record) {
    const QStringList values = record.Values();
    QString row = "\"";
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            row += "\";\"";
        row += AsSpreadsheetText(QuoteToApostrophe(values[i]));
    }
    return row + "\"";
}

// Tick counts start again at every boot, so the number taken from it may already
// name an earlier run's file: the next free number is used instead of replacing it.
// Creating only a new file makes the check and the creation one step. A file
// whose header cannot be written is removed again: it would hold no row anyway.
void TDataFile::Open(const QString& baseDir) {
    Close();
    uint32_t number = TickCount();
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt, ++number) {
        const QString path = TRunFiles(baseDir).Data(number);
        bool created = false;
        try {
            created = FFile.CreateNew(path);
        } catch (const EFileWriteError& failure) {
            throw EDataFileError("Не удалось создать файл данных " + path + ": " + failure.Reason(),
                                 failure.Reason());
        }
        if (!created)
            continue;
        FFilePath = path;
        try {
            WriteLine(QChar(0xFEFF) + DataFileHeader());
        } catch (const EDataFileError&) {
            Close();
            QFile::remove(path);
            throw;
        }
        return;
    }
    throw EDataFileError("Не удалось создать файл данных в " + baseDir + ": все имена заняты",
                         QStringLiteral("все имена заняты"));
}

void TDataFile::WriteRecord(const OrganisationRecord& record) {
    WriteLine(DataFileRow(record));
}

void TDataFile::CutBack(int64_t size) {
    Guarded([&] { FFile.CutBack(size); });
}

void TDataFile::Sync() {
    Guarded([&] { FFile.Sync(); });
}

void TDataFile::Close() {
    FFile.Close();
}

QString TDataFile::FileName() const {
    return QFileInfo(FFilePath).fileName();
}

// The line and its end go out in one write, so that a crash cannot part them.
void TDataFile::WriteLine(const QString& line) {
    Guarded([&] { FFile.Append(EncodeUtf8(line + "\r\n")); });
}

template <typename Step> void TDataFile::Guarded(Step step) {
    try {
        step();
    } catch (const EFileWriteError& failure) {
        throw EDataFileError("Не удалось записать в файл данных " + FFilePath + ": " +
                                 failure.Reason(),
                             failure.Reason());
    }
}
