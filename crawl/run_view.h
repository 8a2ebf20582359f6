#pragma once

#include <QList>
#include <QString>

// One item of the city list: the label names country and city ("Россия, Томск");
// the URL is "https://" and a host, or a path beginning with "/". A line of
// cities.txt without "=" gives an item with the whole line as label and no URL.
struct TCityItem {
    QString Label;
    QString Url;
    bool HasUrl = true;
};

// The fetch threads a run keeps going at once unless told otherwise.
constexpr int DefaultThreadLimit = 2;

// What a run shows and reads of its window. The crawl controller calls these only
// from its window steps, which run on the main thread while the controller waits;
// the main window implements them with its controls, the headless front end with
// the terminal, and tests with a recorder.
class TRunView {
public:
    virtual ~TRunView() = default;

    // Appends one whole line (already carrying its date-time prefix when it has one).
    virtual void AppendLog(const QString& line) = 0;
    virtual void ClearLog() = 0;
    // Enables or disables the city list and START.
    virtual void SetInputsEnabled(bool enabled) = 0;

    virtual void SetProgressMax(int max) = 0;
    virtual void SetProgressPosition(int position) = 0;
    virtual int ProgressMax() const = 0;
    virtual int ProgressPosition() const = 0;
    // Sets the progress bar's hint and turns the hint on.
    virtual void SetProgressHint(const QString& hint) = 0;

    // The two counter labels, whole texts ("Найдено организаций: 12").
    virtual void SetCounterTexts(const QString& found, const QString& written) = 0;
    // The hidden thread-limit field's whole-number value (DefaultThreadLimit unless set).
    virtual int ThreadLimit() const = 0;
    // The selected items of the city list, in list order.
    virtual QList<TCityItem> SelectedCities() const = 0;

    // Arms the one-shot resume timer with an interval in milliseconds.
    virtual void ArmResumeTimer(int milliseconds) = 0;
    // Saves the log's text to `path`: UTF-8 without a byte-order mark, CR LF between lines.
    virtual void SaveLog(const QString& path) = 0;
    // Lets the window handle its pending events.
    virtual void ProcessEvents() = 0;
};
