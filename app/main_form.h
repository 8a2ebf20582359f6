#pragma once

#include "app/anchor_layout.h"
#include "app/form_dialogs.h"
#include "app/window_run_view.h"
#include "crawl/run_files.h"
#include "crawl/scraper.h"

#include <QTimer>
#include <QWidget>

#include <memory>

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;

// The main window: the city list, START, pause, stop, "все", the log view, the
// two counters and the progress bar. It reads cities.txt and restores the saved
// selection when first shown, saves the selection when it closes, and turns the
// user's commands into starting, pausing, resuming and stopping the current
// crawl controller, which it owns. Lives on the main thread; the controller's
// window steps reach its controls through the run's view.
class TMainForm : public QWidget {
public:
    // `settings` is handed to every run; its BaseDir, the directory of the
    // window's files, defaults to ChooseFilesDir's choice without --dir.
    // `dialogs` defaults to message boxes.
    explicit TMainForm(TScraperSettings settings = {},
                       std::unique_ptr<TFormDialogs> dialogs = nullptr);
    ~TMainForm() override;

    // The controls, under their names.
    QLabel* Label1;
    QListWidget* CitiesListBox;
    QPushButton* SelectAllCitiesButton;
    QLabel* Label2;
    QPlainTextEdit* LogsMemo;
    QPushButton* StartButton;
    QSpinBox* LimitEdit;
    QLabel* Label4;
    QLabel* Label3;
    QPushButton* PauseButton;
    QPushButton* StopButton;
    QProgressBar* ProgressBar;
    QTimer* ResumeTimer;

    // The controller of the last START; null before the first.
    const TScraper* Scraper() const { return FScraper.get(); }
    // From START until the current controller's thread has ended.
    bool RunInProgress() const;

    void FormShow();
    void FormClose();
    void StartButtonClick();
    void PauseButtonClick();
    void StopButtonClick();
    void SelectAllCitiesButtonClick();
    void ResumeTimerTimer();
    // Selects exactly the items whose label equals one of `labels` ignoring case.
    static void RestoreSelection(QListWidget* list, const QStringList& labels);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void CreateControls();
    void CreateCityControls();
    void CreateLogControls();
    void CreateRunControls();
    void PlaceControls();
    void ConnectHandlers();
    void LoadCities();
    void LoadSelection();
    void SaveSelection();
    void Log(const QString& text);
    void RunEnded();
    TRunFiles Files() const;

    TScraperSettings FSettings;
    std::unique_ptr<TFormDialogs> FDialogs;
    TAnchorLayout FLayout;
    std::unique_ptr<TWindowRunView> FRunView;
    std::unique_ptr<TScraper> FScraper;
    bool FShown = false;
    // cities.txt was read: until then the list shows no choice of the user's.
    bool FCitiesLoaded = false;
    // Set by a close request during a run: the window closes once the run has ended.
    bool FClosing = false;
};
