#include "form_fixture.h"
#include "tests/support/case_name.h"

#include <QAbstractButton>
#include <QFontInfo>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimer>

namespace {

// Where a control must be at the window's own client size, and after the window
// has been made 116 wider and 76 taller (anchored sides keep their distance).
struct TPlacementCase {
    const char* Name;
    QRect Design;
    QRect Grown;
    const char* Caption;
};
void PrintTo(const TPlacementCase& row, std::ostream* os) {
    *os << row.Name;
}

const TPlacementCase PlacementCases[] = {
    {"Label1", {8, 8, 82, 13}, {8, 8, 82, 13}, "Страны, города"},
    {"CitiesListBox", {8, 27, 241, 374}, {8, 27, 241, 450}, ""},
    {"SelectAllCitiesButton", {194, 374, 41, 25}, {194, 450, 41, 25}, "все"},
    {"Label2", {255, 51, 24, 13}, {255, 51, 24, 13}, "Логи"},
    {"LogsMemo", {255, 70, 721, 331}, {255, 70, 837, 407}, ""},
    {"StartButton", {291, 8, 446, 37}, {407, 8, 446, 37}, "СТАРТ"},
    {"LimitEdit", {743, 19, 42, 21}, {859, 19, 42, 21}, ""},
    {"Label4", {792, 37, 124, 13}, {908, 37, 124, 13}, "Найдено организаций: 0"},
    {"Label3", {792, 51, 127, 13}, {908, 51, 127, 13}, "Записано организаций: 0"},
    {"PauseButton", {820, 8, 75, 25}, {936, 8, 75, 25}, "пауза"},
    {"StopButton", {901, 8, 75, 25}, {1017, 8, 75, 25}, "стоп"},
    {"ProgressBar", {0, 407, 984, 17}, {0, 483, 1100, 17}, ""},
};

class PlacementTest : public FormFixture, public testing::WithParamInterface<TPlacementCase> {};

QString TextOf(const QWidget* control) {
    if (const auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    return QString();
}

// Labels size themselves to their text: they keep their place and never shrink
// below the laid-out size, but may grow when the font is wider than the window's own.
void ExpectPlacement(const QWidget* control, const QRect& expected) {
    if (!qobject_cast<const QLabel*>(control)) {
        EXPECT_EQ(control->geometry(), expected);
        return;
    }
    EXPECT_EQ(control->pos(), expected.topLeft());
    EXPECT_GE(control->width(), expected.width());
    EXPECT_GE(control->height(), expected.height());
    EXPECT_GE(control->width(), control->sizeHint().width()) << "the text is clipped";
}

} // namespace

TEST_P(PlacementTest, KeepsPlaceCaptionAndAnchors) {
    const TPlacementCase& row = GetParam();
    TMainForm& form = ShowForm();
    const auto* control = form.findChild<QWidget*>(QLatin1String(row.Name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(TextOf(control), QString::fromUtf8(row.Caption));

    ExpectPlacement(control, row.Design);
    form.resize(984 + 116, 424 + 76);
    ExpectPlacement(control, row.Grown);
    form.resize(984, 424);
    ExpectPlacement(control, row.Design);
}

INSTANTIATE_TEST_SUITE_P(Controls, PlacementTest, testing::ValuesIn(PlacementCases), CaseName);

TEST_F(FormFixture, WindowHasCaptionClientAreaAndFont) {
    TMainForm& form = ShowForm();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Парсер сайта Quorvel"));
    EXPECT_EQ(form.size(), QSize(984, 424));
    EXPECT_TRUE(form.isWindow());
    const QString family = QFontInfo(form.font()).family();
    EXPECT_EQ(form.font().pixelSize(), 11) << family.toStdString();
    EXPECT_EQ(form.StartButton->font().pixelSize(), 19);
    EXPECT_EQ(QFontInfo(form.StartButton->font()).family(), family);
}

TEST_F(FormFixture, HiddenThreadLimitAndIdleTimer) {
    TMainForm& form = ShowForm();
    EXPECT_FALSE(form.LimitEdit->isVisible());
    EXPECT_EQ(form.LimitEdit->value(), 2);
    EXPECT_EQ(form.LimitEdit->toolTip(), QStringLiteral("Число потоков"));
    EXPECT_EQ(form.LimitEdit->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(form.ResumeTimer->isSingleShot());
    EXPECT_FALSE(form.ResumeTimer->isActive());
    const QList<QWidget*> shownControls = {
        form.CitiesListBox, form.LogsMemo,   form.ProgressBar,          form.StartButton,
        form.PauseButton,   form.StopButton, form.SelectAllCitiesButton};
    for (QWidget* shown : shownControls)
        EXPECT_TRUE(shown->isVisible()) << shown->objectName().toStdString();
}

// "все" lies over the list's bottom corner: a click there must reach the button.
TEST_F(FormFixture, SelectAllButtonIsInFrontOfTheList) {
    TMainForm& form = ShowForm();
    EXPECT_EQ(form.childAt(QPoint(214, 386)), static_cast<QWidget*>(form.SelectAllCitiesButton));
}

TEST_F(FormFixture, TabVisitsControlsInTabOrder) {
    TMainForm& form = ShowForm();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.CitiesListBox->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.CitiesListBox->hasFocus(); }, 2000));
    const QList<QWidget*> order = {
        form.StartButton, form.PauseButton,           form.StopButton,
        form.LogsMemo,    form.SelectAllCitiesButton, form.CitiesListBox};
    for (QWidget* expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), expected)
            << "expected " << expected->objectName().toStdString();
    }
}
