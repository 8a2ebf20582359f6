#include "crawl/data_file.h"

#include "crawl/text_utils.h"
#include "platform/text_codec.h"
#include "platform/tick_count.h"

#include <QDir>

namespace {

// Bounds the search for a free name, so a directory that refuses every name
// cannot keep the run in a loop.
constexpr int MaxNameAttempts = 100000;

QString DataFileName(uint32_t number) {
    return QString("data%1.csv").arg(static_cast<int32_t>(number));
}

} // namespace

QString DataFileHeader() {
    return u"\"Страна\";\"Город\";\"Урл города (или названия региона)\";\"Рубрика\";"
           u"\"Подрубрика\";\"Урл подрубрики\";\"Название организации\";\"Адрес\";"
           u"\"Телефоны\";\"Часы работы\";\"Сайт\";\"Описание\";\"Урл организации\""_qs;
}

// Every value loses its double quotes, the country and city of the label and the
// URLs included: a quote inside a quoted field would end it early and break the
// row for any CSV reader.
QString DataFileRow(const OrganisationRecord& record) {
    const QStringList values = record.Values();
    QString row = "\"";
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            row += "\";\"";
        row += QuoteToApostrophe(values[i]);
    }
    return row + "\"";
}

// Tick counts start again at every boot, so the number taken from it may already
// name an earlier run's file: the next free number is used instead of replacing it.
// NewOnly makes the check and the creation one step.
void TDataFile::Open(const QString& baseDir) {
    Close();
    uint32_t number = TickCount();
    for (int attempt = 0; attempt < MaxNameAttempts; ++attempt, ++number) {
        const QString path = QDir(baseDir).filePath(DataFileName(number));
        FFile.setFileName(path);
        if (FFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            FFilePath = path;
            WriteLine(QChar(0xFEFF) + DataFileHeader());
            return;
        }
        if (!QFile::exists(path))
            throw EDataFileError("Не удалось создать файл данных " + path + ": " +
                                 FFile.errorString());
    }
    throw EDataFileError("Не удалось создать файл данных в " + baseDir + ": все имена заняты");
}

void TDataFile::WriteRecord(const OrganisationRecord& record) {
    WriteLine(DataFileRow(record));
}

void TDataFile::Close() {
    if (FFile.isOpen())
        FFile.close();
}

// The file is unbuffered, so each line reaches the file system as it is written
// and the rows written so far survive if the program ends during a run.
void TDataFile::WriteLine(const QString& line) {
    const QByteArray bytes = EncodeUtf8(line + "\r\n");
    if (!FFile.isOpen() || FFile.write(bytes) != bytes.size())
        throw EDataFileError("Не удалось записать в файл данных " + FFilePath + ": " +
                             FFile.errorString());
}
