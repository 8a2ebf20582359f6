#pragma once

#include "crawl/organisation_record.h"
#include "platform/durable_file.h"

#include <QString>

#include <cstdint>

// The data file cannot be created or written; the message names the path and the reason.
class EDataFileError : public EFileWriteError {
public:
    using EFileWriteError::EFileWriteError;
};

// The header line of the data file, without its line end.
QString DataFileHeader();

// The row of one record, without its line end: every value in double quotes,
// separated by ";", with the double quotes inside every value turned into
// apostrophes, so no value can end its field early, and an apostrophe put before a
// value that a spreadsheet would take as a formula (one that begins with "=", "+",
// "-", "@", TAB or CR and is not a plain number or phone).
QString DataFileRow(const OrganisationRecord& record);

// The output file of one run, "data<N>.csv" in the given directory: UTF-8 with
// a byte-order mark, the header line, then one row per record, each line ending
// in CR LF and handed to the file system as soon as it is written. A row that
// cannot be written whole is cut off again, so the file only ever holds whole
// rows. Owned and used by the controller's thread only.
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
    // Raises EDataFileError, leaving the file as it was, when the row cannot be
    // written whole.
    void WriteRecord(const OrganisationRecord& record);
    // Cuts off what was written after `size` bytes: the rows of jobs that will be
    // fetched again. Raises EDataFileError.
    void CutBack(int64_t size);
    // Hands the rows written to the disk itself. Raises EDataFileError.
    void Sync();
    void Close();

    bool IsOpen() const { return FFile.IsOpen(); }
    // The full path of the file, once opened, and its name alone.
    const QString& FilePath() const { return FFilePath; }
    QString FileName() const;
    // Its length in bytes: where the next row will begin.
    int64_t Size() const { return FFile.Size(); }

private:
    void WriteLine(const QString& line);
    // Runs a step of the file, raising its failure as the data file's.
    template <typename Step> void Guarded(Step step);

    TAppendFile FFile;
    QString FFilePath;
};
