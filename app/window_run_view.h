#pragma once

#include "crawl/run_view.h"

#include <QList>
#include <Qt>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

// Item data of the city list: the URL an item carries, and whether it carries one.
constexpr int CityUrlRole = Qt::UserRole;
constexpr int CityHasUrlRole = Qt::UserRole + 1;

// The rows of the city list's selected items in list order. Read from the list's
// selection ranges, so a list of tens of thousands of items, every other one
// selected, is read at once rather than asking each item in turn.
QList<int> SelectedRows(const QListWidget* list);

// Selects exactly the given rows (in list order) in one step, runs of adjacent
// rows as one range.
void SelectRows(QListWidget* list, const QList<int>& rows);

// The eight controls of the main window that a run reports to and reads from.
struct TRunControls {
    QPlainTextEdit* LogsMemo;
    QProgressBar* ProgressBar;
    QPushButton* StartButton;
    QTimer* ResumeTimer;
    QListWidget* CitiesListBox;
    QLabel* Label4;
    QLabel* Label3;
    QSpinBox* LimitEdit;
};

// The run's view carried out with the main window's controls. It owns none of
// them; the controller's window steps call it on the main thread.
class TWindowRunView : public TRunView {
public:
    explicit TWindowRunView(const TRunControls& controls) : FControls(controls) {}

    void AppendLog(const QString& line) override;
    void ClearLog() override;
    void SetInputsEnabled(bool enabled) override;
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    int ProgressMax() const override;
    int ProgressPosition() const override;
    void SetProgressHint(const QString& hint) override;
    void SetCounterTexts(const QString& found, const QString& written) override;
    int ThreadLimit() const override;
    QList<TCityItem> SelectedCities() const override;
    void ArmResumeTimer(int milliseconds) override;
    void SaveLog(const QString& path) override;
    void ProcessEvents() override;

private:
    TRunControls FControls;
    // The bar's own range cannot be empty without turning into a busy indicator,
    // so the maximum a run sets is kept here and the bar shows at least 0..1.
    int FProgressMax = 100;
};
