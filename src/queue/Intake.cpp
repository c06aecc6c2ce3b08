// Files entering and leaving the upload queue outside a run, and the remote directory mapping.

#include "MainUnit.h"

void TMainForm::QueueCommandLineFiles() {}

bool TMainForm::WMCopyData(const QByteArray& data)
{
    Q_UNUSED(data);
    ApplicationIdle();
    return true;
}

void TMainForm::WMDropFiles(const QStringList& paths)
{
    Q_UNUSED(paths);
}

void TMainForm::AddDirectoryTree(const QString& directory)
{
    Q_UNUSED(directory);
}

void TMainForm::refUpLoadFileBtnClick() {}

void TMainForm::ClearBtnClick() {}

void TMainForm::cbUploadFileChange() {}

void TMainForm::RefBtnClick() {}

QString TMainForm::BrowseForFolder(const QString& title)
{
    return m_services->BrowseForFolder(this, title);
}
