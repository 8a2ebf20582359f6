#pragma once

#include "crawl/run_view.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <functional>

// The run's view on a terminal: log lines go to `out` as they come, flushed at
// once, with control characters shown as U+FFFD; when `status` is a terminal, one
// self-updating line there shows the counters and the progress. Keeps the log's
// lines, as they are, for SaveLog. Lives on the main
// thread, where the controller's window steps call it.
class THeadlessRunView : public TRunView {
public:
    THeadlessRunView(QList<TCityItem> selection, FILE* out, FILE* status, bool statusIsTerminal);
    ~THeadlessRunView() override;

    // Called by ArmResumeTimer with the interval; the front end arms its timer.
    std::function<void(int milliseconds)> OnArmResumeTimer;

    void AppendLog(const QString& line) override;
    void ClearLog() override;
    void SetInputsEnabled(bool enabled) override;
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    int ProgressMax() const override { return FProgressMax; }
    int ProgressPosition() const override { return FProgressPosition; }
    void SetProgressHint(const QString& hint) override;
    void SetCounterTexts(const QString& found, const QString& written) override;
    int ThreadLimit() const override { return DefaultThreadLimit; }
    QList<TCityItem> SelectedCities() const override { return FSelection; }
    void ArmResumeTimer(int milliseconds) override;
    // Never replaces a file: the controller picks a free name.
    void SaveLog(const QString& path) override;
    void ProcessEvents() override;

private:
    void ClearStatus();
    void DrawStatus();

    QList<TCityItem> FSelection;
    FILE* FOut;
    FILE* FStatus;
    bool FStatusIsTerminal;
    bool FStatusShown = false;
    QStringList FLines;
    int FProgressMax = 0;
    int FProgressPosition = 0;
    QString FHint;
    QString FFound;
    QString FWritten;
};
