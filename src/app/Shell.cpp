// Start-up, close and the New window button of the main window.

#include "MainUnit.h"

QString ProgramDirectoryOf(const QString& executablePath, bool windowsPath)
{
    const QChar separator = windowsPath ? QLatin1Char('\\') : QLatin1Char('/');
    QString dir = executablePath.left(executablePath.lastIndexOf(separator) + 1);
    if (dir.endsWith(separator))
        dir.chop(1);
    return dir;
}

void TMainForm::FormCreate()
{
    m_programDirectory = ProgramDirectoryOf(m_start.ExecutablePath);
    m_defaultCursor = Screen().Cursor();
    setAcceptDrops(true);
    InstallApplicationHandlers();
}

void TMainForm::FormClose()
{
    if (IsBusy)
        IdFTP1.Abort();
    IdFTP1.Quit();
}

void TMainForm::CloseBtnClick()
{
    close();
}

void TMainForm::NewWindowBtnClick()
{
    m_services->StartProgram(m_start.ExecutablePath);
}
