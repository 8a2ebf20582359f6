#include "form_fixture.h"
#include "tests/support/case_name.h"

#include "app/window_run_view.h"
#include "platform/exception.h"

#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>

namespace {

class RunViewTest : public FormFixture {
protected:
    TWindowRunView& View() {
        if (!FView) {
            TMainForm& form = ShowForm();
            FView = std::make_unique<TWindowRunView>(
                TRunControls{form.LogsMemo, form.ProgressBar, form.StartButton, form.ResumeTimer,
                             form.CitiesListBox, form.Label4, form.Label3, form.LimitEdit});
        }
        return *FView;
    }

private:
    std::unique_ptr<TWindowRunView> FView;
};

// A run sets the maximum and position in this order and reads both back.
struct TProgressCase {
    const char* Name;
    int Max;
    int Position;
    int ReadMax;
    int ReadPosition;
};
void PrintTo(const TProgressCase& row, std::ostream* os) {
    *os << row.Name;
}

const TProgressCase ProgressCases[] = {
    {"WithinRange", 40, 15, 40, 15},
    {"PositionBeyondMaximumIsClamped", 10, 25, 10, 10},
    {"NegativePositionIsClamped", 10, -3, 10, 0},
    {"EmptyRun", 0, 0, 0, 0},
};

class ProgressTest : public RunViewTest, public testing::WithParamInterface<TProgressCase> {};

} // namespace

TEST_P(ProgressTest, ReadsBackWhatTheBarShows) {
    TWindowRunView& view = View();
    view.SetProgressMax(GetParam().Max);
    view.SetProgressPosition(GetParam().Position);
    EXPECT_EQ(view.ProgressMax(), GetParam().ReadMax);
    EXPECT_EQ(view.ProgressPosition(), GetParam().ReadPosition);
    EXPECT_EQ(Form->ProgressBar->value(), GetParam().ReadPosition);
    // An empty range would turn the bar into a busy indicator.
    EXPECT_LT(Form->ProgressBar->minimum(), Form->ProgressBar->maximum());
}

INSTANTIATE_TEST_SUITE_P(View, ProgressTest, testing::ValuesIn(ProgressCases), CaseName);

TEST_F(RunViewTest, ShrinkingTheMaximumPullsThePositionBack) {
    TWindowRunView& view = View();
    view.SetProgressMax(50);
    view.SetProgressPosition(40);
    view.SetProgressMax(30);
    EXPECT_EQ(view.ProgressPosition(), 30);
}

TEST_F(RunViewTest, SavedLogIsUtf8WithoutMarkAndCrLfAfterEveryLine) {
    TWindowRunView& view = View();
    view.ClearLog();
    view.AppendLog("09.12.2026 10:00:00: Начинаем работу по заданным параметрам");
    view.AppendLog("");
    view.AppendLog("Работа завершена");
    view.SaveLog(Dir.filePath("log-1.txt"));
    EXPECT_EQ(ReadFile("log-1.txt"),
              QByteArray("09.12.2026 10:00:00: Начинаем работу по заданным параметрам\r\n"
                         "\r\nРабота завершена\r\n"));
}

TEST_F(RunViewTest, FailedLogSaveIsRaisedNotSwallowed) {
    TWindowRunView& view = View();
    ASSERT_TRUE(QDir(Dir.path()).mkdir("log-2.txt"));
    try {
        view.SaveLog(Dir.filePath("log-2.txt"));
        ADD_FAILURE() << "no error raised";
    } catch (const Exception& failure) {
        EXPECT_TRUE(failure.Message().contains("log-2.txt")) << failure.what();
    }
}

TEST_F(RunViewTest, SelectedCitiesInListOrderWithTheirUrls) {
    WriteFile("cities.txt", "Россия, Томск=https://tomsk.quorvel.ru\r\n"
                            "Россия, Тверь\r\n"
                            "Россия, Омск=/omsk/\r\n");
    TWindowRunView& view = View();
    Form->CitiesListBox->item(2)->setSelected(true);
    Form->CitiesListBox->item(1)->setSelected(true);
    const QList<TCityItem> selected = view.SelectedCities();
    ASSERT_EQ(selected.size(), 2);
    EXPECT_EQ(selected[0].Label, QStringLiteral("Россия, Тверь"));
    EXPECT_FALSE(selected[0].HasUrl);
    EXPECT_EQ(selected[1].Label, QStringLiteral("Россия, Омск"));
    EXPECT_EQ(selected[1].Url, QStringLiteral("/omsk/"));
    EXPECT_TRUE(selected[1].HasUrl);
}

TEST_F(RunViewTest, CountersGrowToFitAndInputsFollowTheRun) {
    TWindowRunView& view = View();
    view.SetCounterTexts("Найдено организаций: 1234567", "Записано организаций: 1234567");
    EXPECT_EQ(Form->Label4->text(), QStringLiteral("Найдено организаций: 1234567"));
    EXPECT_GE(Form->Label3->width(), Form->Label3->sizeHint().width());
    EXPECT_EQ(Form->Label3->x(), 792);
    view.SetInputsEnabled(false);
    EXPECT_FALSE(Form->StartButton->isEnabled());
    EXPECT_FALSE(Form->CitiesListBox->isEnabled());
    EXPECT_TRUE(Form->PauseButton->isEnabled());
    view.SetInputsEnabled(true);
    EXPECT_TRUE(Form->StartButton->isEnabled());
    EXPECT_TRUE(Form->CitiesListBox->isEnabled());
}

TEST_F(RunViewTest, ResumeTimerIsArmedOnceWithTheInterval) {
    TWindowRunView& view = View();
    view.ArmResumeTimer(30000);
    EXPECT_TRUE(Form->ResumeTimer->isActive());
    EXPECT_EQ(Form->ResumeTimer->interval(), 30000);
    EXPECT_EQ(view.ThreadLimit(), 2);
}
