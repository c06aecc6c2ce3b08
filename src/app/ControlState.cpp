// The control-state rules: the idle refresh, the busy and waiting states, and the handler for
// exceptions that escape an event handler.

#include "MainUnit.h"

#include <QFileInfo>

void TMainForm::ApplicationIdle()
{
    Screen().SetCursor(IsBusy ? crHourGlass : m_defaultCursor);
    DisconnectBtn->setEnabled(IsConnected);
    AbortBtn->setEnabled(IsBusy);
    pcSession->setEnabled(!IsBusy);

    // Cheapest tests first; the file system is asked only when everything else holds.
    const bool canUpload =
        !IsBusy && !edHostName->text().isEmpty() && !edUserId->text().isEmpty() &&
        !edPassword->text().isEmpty() && !edHostHomeDir->text().isEmpty() &&
        QFileInfo(edLocalHomeDir->text()).isDir() &&
        QFileInfo(cbUploadFile->currentText()).isFile() && !edUploadDir->text().isEmpty();
    UploadBtn->setEnabled(canUpload);
}

void TMainForm::EnterBusyState()
{
    IsBusy = true;
    UploadBtn->setEnabled(false);
    AbortBtn->setEnabled(true);
    pcSession->setEnabled(true);
    lbTransaction->setText(QStringLiteral("転送中"));
}

void TMainForm::LeaveBusyState()
{
    Screen().SetCursor(m_defaultCursor);
    IsBusy = false;
    UploadBtn->setEnabled(true);
    AbortBtn->setEnabled(false);
    pcSession->setEnabled(false);
    lbTransaction->setText(QStringLiteral("転送待ち"));
}

void TMainForm::ApplicationException(const std::exception& e)
{
    if (dynamic_cast<const EIdSocketError*>(&e)) {
        IsConnected = false;
        lbConnection->setText(QStringLiteral("未接続"));
        LeaveBusyState();
    }
    AddLog(QString::fromUtf8(e.what()));
    LeaveBusyState();
}
