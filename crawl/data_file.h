#pragma once

#include "crawl/organisation_record.h"
#include "platform/exception.h"

#include <QFile>
#include <QString>

// The data file cannot be created or written; the message names the path and the reason.
class EDataFileError : public Exception {
public:
    using Exception::Exception;
};

// The header line of the data file, without its line end.
QString DataFileHeader();

// The row of one record, without its line end: every value in double quotes,
// separated by ";", with the double quotes inside every value turned into
// apostrophes, so no value can end its field early.
QString DataFileRow(const OrganisationRecord& record);

// The output file of one run, "data<N>.csv" in the given directory: UTF-8 with
// a byte-order mark, the header line, then one row per record, each line ending
// in CR LF and handed to the file system as soon as it is written. Owned and used
// by the controller's thread only.
class TDataFile {
public:
    TDataFile() = default;
    TDataFile(const TDataFile&) = delete;
    TDataFile& operator=(const TDataFile&) = delete;
    ~TDataFile() { Close(); }

    // Creates the file named after the tick count (the next free number when a
    // file of that name exists) and writes the mark and the header. Raises
    // EDataFileError when the file cannot be created.
    void Open(const QString& baseDir);
    // Raises EDataFileError when the row cannot be written whole.
    void WriteRecord(const OrganisationRecord& record);
    void Close();

    bool IsOpen() const { return FFile.isOpen(); }
    // The full path of the file, once opened.
    const QString& FilePath() const { return FFilePath; }

private:
    void WriteLine(const QString& line);

    QFile FFile;
    QString FFilePath;
};
