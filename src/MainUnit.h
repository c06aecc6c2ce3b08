#pragma once

#include "FormServices.h"
#include "IdFTP.h"
#include "Screen.h"
#include "UploadQueue.h"
#include "ui_MainUnit.h"

#include <QStringList>
#include <QWidget>

#include <exception>
#include <memory>

class TLogPane;

// The session flags: process-wide, false at start, never saved.
extern bool IsConnected;    // the control connection is logged in
extern bool IsBusy;         // a transfer step is in progress
extern bool AbortRequested; // the user asked to stop

// What a full start hands to the main window.
struct TStartInfo
{
    QString ExecutablePath; // the executable's full path; its directory is the program directory
    QStringList Arguments;  // the command line without the program itself
};

class TMainForm : public QWidget, private Ui::TMainForm
{
    Q_OBJECT
public:
    TMainForm(TStartInfo start, std::unique_ptr<TFormServices> services, QWidget* parent = nullptr);
    ~TMainForm() override;

    // Start-up and close.
    void FormCreate();
    void FormClose();
    void CloseBtnClick();
    void NewWindowBtnClick();
    void AboutBtnClick();

    // Control state and the log pane.
    void ApplicationIdle();
    void ApplicationException(const std::exception& e);
    void AddLog(const QString& text);
    void EnterBusyState();
    void LeaveBusyState();

    // The settings file and the extension list file.
    QString SettingsFilePath() const;
    QString TextExtFilePath() const;
    void LoadProfileList();
    void LoadCurrentSettings();
    void SaveCurrentSettings();

    // The upload queue and the remote directory mapping.
    void QueueCommandLineFiles();
    bool WMCopyData(const QByteArray& data);
    void WMDropFiles(const QStringList& paths);
    void AddDirectoryTree(const QString& directory);
    void refUpLoadFileBtnClick();
    void ClearBtnClick();
    void cbUploadFileChange();
    void RefBtnClick();
    QString BrowseForFolder(const QString& title);
    TUploadQueue& UploadQueue() { return *m_queue; }

    // The directory that holds the settings files (no trailing separator).
    const QString& ProgramDirectory() const { return m_programDirectory; }
    TCursor DefaultCursor() const { return m_defaultCursor; }
    // The log pane's lines, oldest first, after bringing the view up to date.
    QStringList LogLines() const;

    TIdFTP IdFTP1;
    TIdAntiFreeze IdAntiFreeze1;
    TIdLogEvent IdLogEvent1;
    TOpenDialog OpenDialog1;

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    bool Dispatch(QEvent* e);
    void BindHandlers();
    void InstallApplicationHandlers();

    // Runs a handler; an exception escaping it goes to ApplicationException once the handlers are
    // installed, to a message box before that.
    template <class F> void Guarded(F&& f)
    {
        try {
            f();
        } catch (const std::exception& e) {
            HandleEscapedException(e);
        }
    }
    void HandleEscapedException(const std::exception& e);

    TStartInfo m_start;
    std::unique_ptr<TFormServices> m_services;
    std::unique_ptr<TUploadQueue> m_queue;
    TLogPane* m_log = nullptr;
    QString m_programDirectory;
    TCursor m_defaultCursor = crDefault;
    bool m_handlersInstalled = false;
    QMetaObject::Connection m_idleConnection;
};

// The program directory for an executable: the directory part of its path (up to and including
// the last separator) with that trailing separator removed.
QString ProgramDirectoryOf(const QString& executablePath, PathStyle style = NativePathStyle());
