#include "app/form_dialogs.h"

#include <QCoreApplication>
#include <QMessageBox>

bool TMessageBoxDialogs::Confirm(const QString& question) {
    const auto answer =
        QMessageBox::question(FParent, QCoreApplication::applicationName(), question,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

void TMessageBoxDialogs::ShowError(const QString& message) {
    QMessageBox::critical(FParent, QCoreApplication::applicationName(), message);
}
