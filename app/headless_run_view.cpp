#include "app/headless_run_view.h"

#include "app/terminal_text.h"
#include "platform/durable_file.h"
#include "platform/exception.h"

#include <QCoreApplication>

THeadlessRunView::THeadlessRunView(QList<TCityItem> selection, FILE* out, FILE* status,
                                   bool statusIsTerminal)
    : FSelection(std::move(selection)), FOut(out), FStatus(status),
      FStatusIsTerminal(statusIsTerminal) {}

THeadlessRunView::~THeadlessRunView() {
    if (FStatusShown)
        std::fputs("\n", FStatus);
}

// The saved log keeps the line as it is; the terminal gets it made harmless.
void THeadlessRunView::AppendLog(const QString& line) {
    FLines.append(line);
    ClearStatus();
    const QByteArray bytes = TerminalText(line).toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, bytes.size(), FOut);
    std::fflush(FOut);
    DrawStatus();
}

void THeadlessRunView::ClearLog() {
    FLines.clear();
}

// No controls to enable or disable.
void THeadlessRunView::SetInputsEnabled(bool) {}

// Like a progress bar, the position stays within 0..maximum.
void THeadlessRunView::SetProgressMax(int max) {
    FProgressMax = qMax(0, max);
    FProgressPosition = qBound(0, FProgressPosition, FProgressMax);
}

void THeadlessRunView::SetProgressPosition(int position) {
    FProgressPosition = qBound(0, position, FProgressMax);
    DrawStatus();
}

void THeadlessRunView::SetProgressHint(const QString& hint) {
    FHint = hint;
    DrawStatus();
}

void THeadlessRunView::SetCounterTexts(const QString& found, const QString& written) {
    FFound = found;
    FWritten = written;
    DrawStatus();
}

void THeadlessRunView::ArmResumeTimer(int milliseconds) {
    if (OnArmResumeTimer)
        OnArmResumeTimer(milliseconds);
}

void THeadlessRunView::SaveLog(const QString& path) {
    try {
        WriteTextLinesAtomically(path, FLines);
    } catch (const EFileWriteError& failure) {
        throw Exception(
            QStringLiteral("Не удалось записать лог в %1: %2").arg(path, failure.Reason()));
    }
}

void THeadlessRunView::ProcessEvents() {
    QCoreApplication::processEvents();
}

void THeadlessRunView::ClearStatus() {
    if (!FStatusShown)
        return;
    std::fputs("\r\033[K", FStatus);
    std::fflush(FStatus);
    FStatusShown = false;
}

void THeadlessRunView::DrawStatus() {
    if (!FStatusIsTerminal || (FFound.isEmpty() && FHint.isEmpty()))
        return;
    QString status = FFound;
    if (!FWritten.isEmpty())
        status += QStringLiteral(", ") + FWritten;
    if (!FHint.isEmpty())
        status += QStringLiteral(", ") + FHint;
    const QByteArray bytes = "\r\033[K" + TerminalText(status).toUtf8();
    std::fwrite(bytes.constData(), 1, bytes.size(), FStatus);
    std::fflush(FStatus);
    FStatusShown = true;
}
