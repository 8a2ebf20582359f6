#include "app/window_run_view.h"

#include "platform/durable_file.h"

#include <QCoreApplication>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <algorithm>

void TWindowRunView::AppendLog(const QString& line) {
    FControls.LogsMemo->appendPlainText(line);
}

void TWindowRunView::ClearLog() {
    FControls.LogsMemo->clear();
}

void TWindowRunView::SetInputsEnabled(bool enabled) {
    FControls.CitiesListBox->setEnabled(enabled);
    FControls.StartButton->setEnabled(enabled);
}

// The bar resets itself when its value falls outside a new range; the position
// is kept, pulled back to the new maximum.
void TWindowRunView::SetProgressMax(int max) {
    const int position = FControls.ProgressBar->value();
    FProgressMax = qMax(0, max);
    FControls.ProgressBar->setMaximum(qMax(1, FProgressMax));
    SetProgressPosition(position);
}

// A position beyond the range is clamped, as a bar does, rather than dropped.
void TWindowRunView::SetProgressPosition(int position) {
    FControls.ProgressBar->setValue(qBound(0, position, FProgressMax));
}

int TWindowRunView::ProgressMax() const {
    return FProgressMax;
}

int TWindowRunView::ProgressPosition() const {
    return FControls.ProgressBar->value();
}

void TWindowRunView::SetProgressHint(const QString& hint) {
    FControls.ProgressBar->setToolTip(hint);
}

void TWindowRunView::SetCounterTexts(const QString& found, const QString& written) {
    FControls.Label4->setText(found);
    FControls.Label4->adjustSize();
    FControls.Label3->setText(written);
    FControls.Label3->adjustSize();
}

int TWindowRunView::ThreadLimit() const {
    return FControls.LimitEdit->value();
}

QList<TCityItem> TWindowRunView::SelectedCities() const {
    QList<TCityItem> selected;
    const QListWidget* list = FControls.CitiesListBox;
    for (int row : SelectedRows(list)) {
        const QListWidgetItem* item = list->item(row);
        selected.append({item->text(), item->data(CityUrlRole).toString(),
                         item->data(CityHasUrlRole).toBool()});
    }
    return selected;
}

void TWindowRunView::ArmResumeTimer(int milliseconds) {
    FControls.ResumeTimer->start(milliseconds);
}

void TWindowRunView::SaveLog(const QString& path) {
    const QString text = FControls.LogsMemo->toPlainText();
    WriteTextLinesAtomically(path, text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n')));
}

void TWindowRunView::ProcessEvents() {
    QCoreApplication::processEvents();
}

QList<int> SelectedRows(const QListWidget* list) {
    QList<int> rows;
    for (const QItemSelectionRange& range : list->selectionModel()->selection()) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void SelectRows(QListWidget* list, const QList<int>& rows) {
    QItemSelection selection;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype last = i;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1)
            ++last;
        selection.append(QItemSelectionRange(list->model()->index(rows[i], 0),
                                             list->model()->index(rows[last], 0)));
        i = last + 1;
    }
    list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}
