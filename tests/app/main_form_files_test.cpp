#include "form_fixture.h"
#include "tests/support/case_name.h"

#include "app/window_run_view.h"

#include <QDir>

namespace {

QByteArray Utf16LeWithMark(const QString& text) {
    QByteArray bytes("\xFF\xFE", 2);
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

struct TCityFileCase {
    const char* Name;
    QByteArray Bytes;
    QList<TCityItem> Expected;
};
void PrintTo(const TCityFileCase& row, std::ostream* os) {
    *os << row.Name;
}

const QList<TCityFileCase> CityFileCases = {
    {"Utf8CrLf",
     "Россия, Томск=https://tomsk.quorvel.ru\r\nРоссия, Омск=/omsk/rubrics/\r\n",
     {{"Россия, Томск", "https://tomsk.quorvel.ru", true},
      {"Россия, Омск", "/omsk/rubrics/", true}}},
    {"UrlKeepsLaterEqualSigns",
     "Россия, Тверь=https://tver.quorvel.ru/?a=b\nРоссия, Орёл=",
     {{"Россия, Тверь", "https://tver.quorvel.ru/?a=b", true}, {"Россия, Орёл", "", true}}},
    {"LineWithoutEqualsSignHasNoUrl",
     "Россия, Тверь\rРоссия, Омск=https://omsk.quorvel.ru",
     {{"Россия, Тверь", "", false}, {"Россия, Омск", "https://omsk.quorvel.ru", true}}},
    {"Windows1251WithoutMark",
     QByteArray("\xD0\xEE\xF1\xF1\xE8\xFF, \xD2\xF3\xEB\xE0=https://tula.quorvel.ru\r\n"),
     {{"Россия, Тула", "https://tula.quorvel.ru", true}}},
    {"Utf16WithMark",
     Utf16LeWithMark("Россия, Томск=https://tomsk.quorvel.ru\r\nКазахстан, Алматы=/almaty/"),
     {{"Россия, Томск", "https://tomsk.quorvel.ru", true},
      {"Казахстан, Алматы", "/almaty/", true}}},
    {"EmptyFile", "", {}},
};

class CityFileTest : public FormFixture, public testing::WithParamInterface<TCityFileCase> {};

} // namespace

TEST_P(CityFileTest, ListShowsLabelsAndCarriesUrls) {
    WriteFile("cities.txt", GetParam().Bytes);
    TMainForm& form = ShowForm();
    const QList<TCityItem>& expected = GetParam().Expected;
    ASSERT_EQ(form.CitiesListBox->count(), expected.size());
    for (int row = 0; row < expected.size(); ++row) {
        const QListWidgetItem* item = form.CitiesListBox->item(row);
        EXPECT_EQ(item->text(), expected[row].Label);
        EXPECT_EQ(item->data(CityUrlRole).toString(), expected[row].Url);
        EXPECT_EQ(item->data(CityHasUrlRole).toBool(), expected[row].HasUrl);
    }
    EXPECT_TRUE(Dialogs->Errors.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, CityFileTest, testing::ValuesIn(CityFileCases), CaseName);

namespace {

const QByteArray FourCities = "Россия, Томск=https://tomsk.quorvel.ru\r\n"
                              "Россия, Омск=https://omsk.quorvel.ru\r\n"
                              "Россия, Томск=/tomsk/kafe/\r\n"
                              "Казахстан, Алматы=https://almaty.quorvel.kz\r\n";

struct TRestoreCase {
    const char* Name;
    bool HasFile;
    QByteArray Selection;
    QList<int> Expected;
};
void PrintTo(const TRestoreCase& row, std::ostream* os) {
    *os << row.Name;
}

const QList<TRestoreCase> RestoreCases = {
    {"ExactLabels", true, "Россия, Омск\r\nКазахстан, Алматы\r\n", {1, 3}},
    {"OtherLetterCase", true, "россия, ОМСК\r\nКАЗАХСТАН, алматы", {1, 3}},
    {"DuplicateLabelsBothSelected", true, "Россия, Томск\r\n", {0, 2}},
    {"UnknownLabelsIgnored", true, "Россия, Москва\nКазахстан, Алматы\n", {3}},
    {"Utf8MarkIsNoPartOfTheLabel", true, "\xEF\xBB\xBFРоссия, Омск\r\n", {1}},
    {"EmptyFileSelectsNothing", true, "", {}},
    {"NoFileSelectsNothing", false, "", {}},
};

class RestoreTest : public FormFixture, public testing::WithParamInterface<TRestoreCase> {};

} // namespace

TEST_P(RestoreTest, SavedSelectionIsRestoredOnShow) {
    WriteFile("cities.txt", FourCities);
    if (GetParam().HasFile)
        WriteFile("selection.txt", GetParam().Selection);
    ShowForm();
    EXPECT_EQ(SelectedRows(), GetParam().Expected);
    EXPECT_TRUE(Dialogs->Errors.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Files, RestoreTest, testing::ValuesIn(RestoreCases), CaseName);

TEST_F(FormFixture, RestoreSelectionDeselectsEveryOtherItem) {
    WriteFile("cities.txt", FourCities);
    TMainForm& form = ShowForm();
    form.CitiesListBox->selectAll();
    TMainForm::RestoreSelection(form.CitiesListBox, {"РОССИЯ, омск"});
    EXPECT_EQ(SelectedRows(), QList<int>{1});
}

namespace {

struct TSaveCase {
    const char* Name;
    QList<int> Select; // in the order the user picks them
    QByteArray Expected;
};
void PrintTo(const TSaveCase& row, std::ostream* os) {
    *os << row.Name;
}

const QList<TSaveCase> SaveCases = {
    {"ListOrderCrLfNoMark", {3, 1}, "Россия, Омск\r\nКазахстан, Алматы\r\n"},
    {"DuplicateLabelsEachWritten", {2, 0}, "Россия, Томск\r\nРоссия, Томск\r\n"},
    {"NothingSelectedGivesEmptyFile", {}, ""},
};

class SaveTest : public FormFixture, public testing::WithParamInterface<TSaveCase> {};

} // namespace

TEST_P(SaveTest, SelectionIsSavedOnClose) {
    WriteFile("cities.txt", FourCities);
    WriteFile("selection.txt", "Россия, Томск\r\nРоссия, Омск\r\nКазахстан, Алматы\r\n");
    TMainForm& form = ShowForm();
    form.CitiesListBox->clearSelection();
    for (int row : GetParam().Select)
        form.CitiesListBox->item(row)->setSelected(true);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(ReadFile("selection.txt"), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Files, SaveTest, testing::ValuesIn(SaveCases), CaseName);

TEST_F(FormFixture, SavedSelectionComesBackInTheNextWindow) {
    WriteFile("cities.txt", FourCities);
    ShowForm();
    Form->CitiesListBox->item(1)->setSelected(true);
    Form->CitiesListBox->item(3)->setSelected(true);
    ASSERT_TRUE(Form->close());
    ShowForm();
    EXPECT_EQ(SelectedRows(), (QList<int>{1, 3}));
}

// Every other one of 100,000 cities saved and restored: comparing every label with
// every item, or selecting and reading the items one by one, would take many
// minutes, so a regression shows up as a hung test rather than a timing assertion.
TEST_F(FormFixture, HundredThousandCitiesRestoreAndSaveInOnePass) {
    QByteArray cities, saved;
    QList<int> every2nd;
    for (int row = 0; row < 100000; ++row) {
        const QByteArray label = "Россия, Город " + QByteArray::number(row);
        cities += label + "=https://c" + QByteArray::number(row) + ".test\r\n";
        if (row % 2 == 0) {
            saved += label + "\r\n";
            every2nd.append(row);
        }
    }
    WriteFile("cities.txt", cities);
    WriteFile("selection.txt", saved);
    ShowForm();
    EXPECT_EQ(SelectedRows(), every2nd);
    ASSERT_TRUE(Form->close());
    EXPECT_EQ(ReadFile("selection.txt"), saved);
}

namespace {

struct TMissingCitiesCase {
    const char* Name;
    bool AsDirectory; // a directory in its place cannot be read as a file
};
void PrintTo(const TMissingCitiesCase& row, std::ostream* os) {
    *os << row.Name;
}

class MissingCitiesTest : public FormFixture,
                          public testing::WithParamInterface<TMissingCitiesCase> {};

} // namespace

TEST_P(MissingCitiesTest, ErrorBoxEmptyListSelectionNotApplied) {
    if (GetParam().AsDirectory) {
        ASSERT_TRUE(QDir(Dir.path()).mkdir("cities.txt"));
    }
    WriteFile("selection.txt", "Россия, Томск\r\n");
    TMainForm& form = ShowForm();
    ASSERT_EQ(Dialogs->Errors.size(), 1);
    EXPECT_TRUE(Dialogs->Errors[0].contains("cities.txt")) << Dialogs->Errors[0].toStdString();
    EXPECT_EQ(form.CitiesListBox->count(), 0);
    EXPECT_TRUE(form.StartButton->isEnabled());
    EXPECT_TRUE(form.CitiesListBox->isEnabled());
    // The empty list shows no choice of the user's: closing keeps the saved one.
    EXPECT_TRUE(form.close());
    EXPECT_EQ(ReadFile("selection.txt"), "Россия, Томск\r\n");
}

INSTANTIATE_TEST_SUITE_P(Files, MissingCitiesTest,
                         testing::Values(TMissingCitiesCase{"Missing", false},
                                         TMissingCitiesCase{"Unreadable", true}),
                         CaseName);

TEST_F(FormFixture, ShownAgainNeitherReloadsNorGreetsTwice) {
    WriteFile("cities.txt", FourCities);
    TMainForm& form = ShowForm();
    ASSERT_EQ(LogLines().size(), 1);
    const QString greeting = LogLines()[0];
    EXPECT_FALSE(greeting.isEmpty());
    form.CitiesListBox->item(2)->setSelected(true);
    WriteFile("cities.txt", "Россия, Тверь=https://tver.quorvel.ru\r\n");
    form.hide();
    form.show();
    EXPECT_EQ(LogLines(), QStringList{greeting});
    EXPECT_EQ(Labels().size(), 4);
    EXPECT_EQ(SelectedRows(), QList<int>{2});
}

TEST_F(FormFixture, UnwritableSelectionIsReportedAndTheWindowStillCloses) {
    WriteFile("cities.txt", FourCities);
    ASSERT_TRUE(QDir(Dir.path()).mkdir("selection.txt"));
    TMainForm& form = ShowForm();
    ASSERT_EQ(Dialogs->Errors.size(), 1); // reading it failed too
    form.CitiesListBox->item(0)->setSelected(true);
    EXPECT_TRUE(form.close());
    ASSERT_EQ(Dialogs->Errors.size(), 2);
    EXPECT_TRUE(Dialogs->Errors[1].contains("selection.txt")) << Dialogs->Errors[1].toStdString();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(FormFixture, SelectAllWorksWhileTheListIsDisabled) {
    WriteFile("cities.txt", FourCities);
    TMainForm& form = ShowForm();
    form.CitiesListBox->setEnabled(false);
    QTest::mouseClick(form.SelectAllCitiesButton, Qt::LeftButton);
    EXPECT_EQ(SelectedRows(), (QList<int>{0, 1, 2, 3}));
}
