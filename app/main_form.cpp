#include "app/main_form.h"

#include "app/run_commands.h"
#include "crawl/city_list.h"
#include "crawl/resume_files.h"
#include "crawl/run_lock.h"
#include "crawl/run_view.h"
#include "platform/durable_file.h"
#include "platform/exception.h"
#include "platform/executable_dir.h"
#include "platform/file_lock.h"
#include "platform/log_line.h"
#include "platform/text_file.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>

#include <utility>

namespace {

const QSize ClientSize(984, 424);
// How often a window closing during a run looks whether the run has ended.

const QString Greeting = QStringLiteral(
    "Выберите города в списке слева и нажмите СТАРТ, чтобы начать сбор организаций.");

// Tahoma where it is installed, the platform's sans-serif otherwise.
QFont FormFont(int pixelSize) {
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    const bool hasTahoma = QFontDatabase::families().contains(QStringLiteral("Tahoma"));
    font.setFamily(hasTahoma ? QStringLiteral("Tahoma") : QStringLiteral("Sans Serif"));
    font.setPixelSize(pixelSize);
    return font;
}

template <typename T> T* NewControl(QWidget* parent, const char* name) {
    T* control = new T(parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

} // namespace

TMainForm::TMainForm(TScraperSettings settings, std::unique_ptr<TFormDialogs> dialogs)
    : FSettings(std::move(settings)), FDialogs(std::move(dialogs)), FLayout(ClientSize) {
    if (FSettings.BaseDir.isEmpty())
        FSettings.BaseDir = ChooseFilesDir({}, ExecutableDir());
    if (!FDialogs)
        FDialogs = std::make_unique<TMessageBoxDialogs>(this);
    setWindowTitle(QStringLiteral("Парсер сайта Quorvel"));
    setFont(FormFont(11));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    setPalette(palette);
    CreateControls();
    PlaceControls();
    ConnectHandlers();
    FRunView = std::make_unique<TWindowRunView>(TRunControls{
        LogsMemo, ProgressBar, StartButton, ResumeTimer, CitiesListBox, Label4, Label3, LimitEdit});
    resize(ClientSize);
}

// A run still going when the window is destroyed is stopped and waited for
// while the controls it reports to still exist.
TMainForm::~TMainForm() {
    FScraper.reset();
}

void TMainForm::CreateControls() {
    CreateCityControls();
    CreateLogControls();
    CreateRunControls();
}

void TMainForm::CreateCityControls() {
    Label1 = NewControl<QLabel>(this, "Label1");
    Label1->setText(QStringLiteral("Страны, города"));
    CitiesListBox = NewControl<QListWidget>(this, "CitiesListBox");
    CitiesListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Every item has the list's one item height; the list then need not measure
    // each of tens of thousands of items to lay itself out.
    CitiesListBox->setUniformItemSizes(true);
    SelectAllCitiesButton = NewControl<QPushButton>(this, "SelectAllCitiesButton");
    SelectAllCitiesButton->setText(QStringLiteral("все"));
}

void TMainForm::CreateLogControls() {
    Label2 = NewControl<QLabel>(this, "Label2");
    Label2->setText(QStringLiteral("Логи"));
    LogsMemo = NewControl<QPlainTextEdit>(this, "LogsMemo");
    LogsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    LogsMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The log is a report: it can be read and copied, not edited.
    LogsMemo->setReadOnly(true);
    Label4 = NewControl<QLabel>(this, "Label4");
    Label4->setText(QStringLiteral("Найдено организаций: 0"));
    Label3 = NewControl<QLabel>(this, "Label3");
    Label3->setText(QStringLiteral("Записано организаций: 0"));
    ProgressBar = NewControl<QProgressBar>(this, "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    ProgressBar->setStyleSheet(QStringLiteral(
        "QProgressBar { border: 1px solid #a0a0a0; background: #ffffff; }"
        "QProgressBar::chunk { background: qlineargradient(x1: 0, y1: 0, x2: 1, y2: 0, "
        "stop: 0 #008000, stop: 1 #90ee90); }"));
}

void TMainForm::CreateRunControls() {
    StartButton = NewControl<QPushButton>(this, "StartButton");
    StartButton->setText(QStringLiteral("СТАРТ"));
    StartButton->setFont(FormFont(19));
    // Every run uses at most this many fetch threads; hidden, so the user cannot change it.
    LimitEdit = NewControl<QSpinBox>(this, "LimitEdit");
    LimitEdit->setRange(1, 99);
    LimitEdit->setValue(DefaultThreadLimit);
    LimitEdit->setToolTip(QStringLiteral("Число потоков"));
    LimitEdit->setFocusPolicy(Qt::NoFocus);
    LimitEdit->setVisible(false);
    PauseButton = NewControl<QPushButton>(this, "PauseButton");
    PauseButton->setText(QStringLiteral("пауза"));
    StopButton = NewControl<QPushButton>(this, "StopButton");
    StopButton->setText(QStringLiteral("стоп"));
    ResumeTimer = NewControl<QTimer>(this, "ResumeTimer");
    ResumeTimer->setSingleShot(true);
}

void TMainForm::PlaceControls() {
    FLayout.Place(Label1, {8, 8, 82, 13}, AnchorLeft | AnchorTop);
    FLayout.Place(CitiesListBox, {8, 27, 241, 374}, AnchorLeft | AnchorTop | AnchorBottom);
    FLayout.Place(SelectAllCitiesButton, {194, 374, 41, 25}, AnchorLeft | AnchorBottom);
    FLayout.Place(Label2, {255, 51, 24, 13}, AnchorLeft | AnchorTop);
    FLayout.Place(LogsMemo, {255, 70, 721, 331},
                  AnchorLeft | AnchorTop | AnchorRight | AnchorBottom);
    FLayout.Place(StartButton, {291, 8, 446, 37}, AnchorTop | AnchorRight);
    FLayout.Place(LimitEdit, {743, 19, 42, 21}, AnchorTop | AnchorRight);
    FLayout.Place(Label4, {792, 37, 124, 13}, AnchorTop | AnchorRight);
    FLayout.Place(Label3, {792, 51, 127, 13}, AnchorTop | AnchorRight);
    FLayout.Place(PauseButton, {820, 8, 75, 25}, AnchorTop | AnchorRight);
    FLayout.Place(StopButton, {901, 8, 75, 25}, AnchorTop | AnchorRight);
    FLayout.AlignBottom(ProgressBar, 17);
    // "все" sits on the list's bottom corner and must stay in front of it.
    SelectAllCitiesButton->raise();
    setTabOrder(CitiesListBox, StartButton);
    setTabOrder(StartButton, PauseButton);
    setTabOrder(PauseButton, StopButton);
    setTabOrder(StopButton, LogsMemo);
    setTabOrder(LogsMemo, SelectAllCitiesButton);
}

void TMainForm::ConnectHandlers() {
    connect(StartButton, &QPushButton::clicked, this, &TMainForm::StartButtonClick);
    connect(PauseButton, &QPushButton::clicked, this, &TMainForm::PauseButtonClick);
    connect(StopButton, &QPushButton::clicked, this, &TMainForm::StopButtonClick);
    connect(SelectAllCitiesButton, &QPushButton::clicked, this,
            &TMainForm::SelectAllCitiesButtonClick);
    connect(ResumeTimer, &QTimer::timeout, this, &TMainForm::ResumeTimerTimer);
}

bool TMainForm::RunInProgress() const {
    return FScraper && !FScraper->Finished();
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!std::exchange(FShown, true))
        FormShow();
}

// Closing during a run stops it as the stop button does; the window closes once
// the run's end has saved the work lists and the log. Further requests meanwhile
// are ignored.
void TMainForm::closeEvent(QCloseEvent* event) {
    if (RunInProgress()) {
        event->ignore();
        if (!std::exchange(FClosing, true))
            StopButtonClick();
        return;
    }
    FormClose();
    event->accept();
}

// Heard on the main thread once the controller has finished.
void TMainForm::RunEnded() {
    if (FClosing)
        close();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FLayout.Apply(size());
}

void TMainForm::FormShow() {
    LogsMemo->appendPlainText(Greeting);
    CitiesListBox->clear();
    LoadCities();
}

void TMainForm::LoadCities() {
    QList<TCityItem> items;
    try {
        items = ParseCityLines(ReadTextFileLines(Files().Cities()));
    } catch (const Exception& failure) {
        FDialogs->ShowError(failure.Message());
        return;
    }
    // Each item is complete before it joins the list, so a long list is not
    // redrawn for every value set on every item.
    for (const TCityItem& city : items) {
        auto* item = new QListWidgetItem(city.Label);
        item->setData(CityUrlRole, city.Url);
        item->setData(CityHasUrlRole, city.HasUrl);
        CitiesListBox->addItem(item);
    }
    FCitiesLoaded = true;
    LoadSelection();
}

void TMainForm::LoadSelection() {
    const QString path = Files().Selection();
    if (!QFile::exists(path))
        return;
    try {
        RestoreSelection(CitiesListBox, ReadTextFileLines(path));
    } catch (const Exception& failure) {
        FDialogs->ShowError(failure.Message());
    }
}

void TMainForm::RestoreSelection(QListWidget* list, const QStringList& labels) {
    QList<TCityItem> items;
    for (int row = 0; row < list->count(); ++row)
        items.append({list->item(row)->text(), QString(), false});
    SelectRows(list, MatchSelection(items, labels));
}

// A list that never loaded shows nothing the user chose: the saved selection stays.
void TMainForm::FormClose() {
    if (FCitiesLoaded)
        SaveSelection();
}

// The labels of the selected items in list order.
void TMainForm::SaveSelection() {
    QStringList labels;
    for (int row : SelectedRows(CitiesListBox))
        labels.append(CitiesListBox->item(row)->text());
    try {
        WriteTextLinesAtomically(Files().Selection(), labels);
    } catch (const EFileWriteError& failure) {
        // The window still closes; the user learns that the selection was not kept.
        FDialogs->ShowError(failure.Message());
    }
}

void TMainForm::StartButtonClick() {
    // Between START and the controller's first step the button is still enabled:
    // a second press then must not start a second run over the same files.
    if (RunInProgress() || FClosing)
        return;
    // Another process running in the directory is named in the log, like a run's
    // failure; START then changes nothing.
    std::unique_ptr<TFileLock> lock;
    try {
        lock = LockRunDir(Files());
        PrepareStartFiles(FSettings.BaseDir,
                          [this](const QString& question) { return FDialogs->Confirm(question); });
    } catch (const ERunDirBusy& busy) {
        Log(QStringLiteral("Ошибка: ") + busy.Message());
        return;
    } catch (const Exception& failure) {
        FDialogs->ShowError(failure.Message());
        return;
    }
    FScraper.reset();
    FScraper = std::make_unique<TScraper>(*FRunView, FSettings);
    FScraper->HoldLock(std::move(lock));
    FScraper->SetOnFinished([this] {
        QMetaObject::invokeMethod(
            this, [this] { RunEnded(); }, Qt::QueuedConnection);
    });
    FScraper->Start();
}

void TMainForm::PauseButtonClick() {
    if (!RunInProgress())
        return;
    if (FScraper->Paused()) {
        EndPause(*FScraper, *FRunView);
        return;
    }
    ResumeTimer->stop();
    FScraper->Suspend();
    Log(QStringLiteral("Включаем паузу"));
}

void TMainForm::StopButtonClick() {
    if (RunInProgress())
        StopRun(*FScraper, *FRunView);
}

void TMainForm::SelectAllCitiesButtonClick() {
    CitiesListBox->selectAll();
}

void TMainForm::ResumeTimerTimer() {
    ResumeTimer->stop();
    if (RunInProgress())
        EndPause(*FScraper, *FRunView);
}

void TMainForm::Log(const QString& text) {
    FRunView->AppendLog(FormatLogLine(text));
}

TRunFiles TMainForm::Files() const {
    return TRunFiles(FSettings.BaseDir);
}
