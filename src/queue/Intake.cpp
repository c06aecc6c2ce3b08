// Files entering the upload queue from outside the window.

#include "MainUnit.h"

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
