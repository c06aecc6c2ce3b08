// Start-up, close and the New window button of the main window.

#include "MainUnit.h"

QString ProgramDirectoryOf(const QString& executablePath, PathStyle style)
{
    const QChar separator = QLatin1Char(PathDelimiter(style));
    QString dir = executablePath.left(executablePath.lastIndexOf(separator) + 1);
    if (dir.endsWith(separator))
        dir.chop(1);
    return dir;
}

void TMainForm::FormCreate()
{
    m_programDirectory = ProgramDirectoryOf(m_start.ExecutablePath);
    m_defaultCursor = Screen().Cursor();
    // A settings file that cannot be read is reported, but must not leave the window without its
    // drop target, idle refresh and command-line files.
    Guarded([this] {
        LoadProfileList();
        LoadCurrentSettings();
    });
    setAcceptDrops(true);
    InstallApplicationHandlers();
    QueueCommandLineFiles();
    cbUploadFileChange();
    // The profile search step goes here.
}

void TMainForm::FormClose()
{
    SaveCurrentSettings();
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
