#pragma once

#include "app/form_dialogs.h"
#include "app/main_form.h"
#include "app/window_run_view.h"
#include "tests/qt_print.h"
#include "tests/support/test_files.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// Answers START's questions from a script (Yes when the script has run out) and
// records every question and error box the window shows.
struct TScriptedDialogs : TFormDialogs {
    QList<bool> Answers;
    QStringList Questions;
    QStringList Errors;

    bool Confirm(const QString& question) override {
        Questions.append(question);
        return Answers.isEmpty() ? true : Answers.takeFirst();
    }
    void ShowError(const QString& message) override { Errors.append(message); }
};

// A window over a temporary directory, with scripted dialogs.
class FormFixture : public testing::Test {
protected:
    void WriteFile(const QString& name, const QByteArray& bytes) {
        WriteTestFile(Dir.filePath(name), bytes);
    }
    QByteArray ReadFile(const QString& name) const { return ReadTestFile(Dir.filePath(name)); }
    bool Exists(const QString& name) const { return QFile::exists(Dir.filePath(name)); }

    // Creates the window with `settings` (its BaseDir is the temporary directory) and shows it.
    TMainForm& ShowForm(TScraperSettings settings = {}) {
        settings.BaseDir = Dir.path();
        auto dialogs = std::make_unique<TScriptedDialogs>();
        Dialogs = dialogs.get();
        Form = std::make_unique<TMainForm>(std::move(settings), std::move(dialogs));
        Form->show();
        return *Form;
    }

    QStringList Labels() const {
        QStringList labels;
        for (int row = 0; row < Form->CitiesListBox->count(); ++row)
            labels.append(Form->CitiesListBox->item(row)->text());
        return labels;
    }
    QList<int> SelectedRows() const { return ::SelectedRows(Form->CitiesListBox); }
    QStringList LogLines() const { return Form->LogsMemo->toPlainText().split(QLatin1Char('\n')); }

    QTemporaryDir Dir;
    TScriptedDialogs* Dialogs = nullptr;
    std::unique_ptr<TMainForm> Form;
};
