#pragma once

#include <QString>

class QWidget;

// The only dialogs the window ever shows: START's yes/no questions about an
// earlier run's files, and the toolkit's error box. Behind this interface so
// that tests answer them instead of a user. Used on the main thread only.
class TFormDialogs {
public:
    virtual ~TFormDialogs() = default;
    // A modal question with Yes and No, Yes the default; true means Yes.
    virtual bool Confirm(const QString& question) = 0;
    // The standard error box with the failure's message.
    virtual void ShowError(const QString& message) = 0;
};

// The real dialogs: message boxes over the window, titled with the application title.
class TMessageBoxDialogs : public TFormDialogs {
public:
    explicit TMessageBoxDialogs(QWidget* parent) : FParent(parent) {}
    bool Confirm(const QString& question) override;
    void ShowError(const QString& message) override;

private:
    QWidget* FParent;
};
