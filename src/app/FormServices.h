#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

// The window's door to everything that is modal or leaves the process: message boxes, the open
// dialog, the folder browser, starting a program and opening a link. Tests replace it, so no test
// ever waits on a modal window.

enum class TMsgButtons
{
    Ok,
    OkCancel,
    YesNo
};
enum class TMsgIcon
{
    None,
    Warning
};
enum TModalResult : int
{
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrYes = 6,
    mrNo = 7
};

struct TMessageBoxRequest
{
    QString Text;
    QString Caption;
    TMsgButtons Buttons = TMsgButtons::Ok;
    TMsgIcon Icon = TMsgIcon::None;
    bool CenterOnScreen = false; // otherwise centred on the owner
};

// The open-file dialog's settings as the window carries them, and what the last use returned.
struct TOpenDialog
{
    enum Option
    {
        ofHideReadOnly = 0x1,
        ofAllowMultiSelect = 0x2
    };
    QString Title;
    QString Filter; // "caption|pattern|caption|pattern"
    int Options = 0;
    QString FileName;
    QString InitialDir;
    QStringList Files; // full paths chosen at the last confirmed use
};

class TFormServices
{
public:
    virtual ~TFormServices() = default;

    // Shows a message box owned by owner; returns the button pressed (mrOk, mrCancel, mrYes, mrNo).
    virtual int MessageBox(QWidget* owner, const TMessageBoxRequest& request) = 0;
    // Shows the open dialog; on confirmation fills dialog.Files and dialog.FileName and returns
    // true, on cancel returns false and leaves the dialog's fields as they were.
    virtual bool ExecuteOpenDialog(QWidget* owner, TOpenDialog& dialog) = 0;
    // Lets the user pick a folder; returns its path without a trailing separator (a root stays
    // "/"), or an empty string on cancel.
    virtual QString BrowseForFolder(QWidget* owner, const QString& title) = 0;
    // Starts program detached with no arguments; failures are ignored.
    virtual void StartProgram(const QString& program) = 0;
    // Opens link with the desktop's handler; returns false when there is none. Shows nothing.
    virtual bool OpenLink(const QString& link) = 0;
    // Runs dialog modally and returns its result.
    virtual int ExecDialog(QDialog& dialog) = 0;
};

// The real desktop: Qt's dialogs, QProcess, QDesktopServices.
class TDesktopServices : public TFormServices
{
public:
    int MessageBox(QWidget* owner, const TMessageBoxRequest& request) override;
    bool ExecuteOpenDialog(QWidget* owner, TOpenDialog& dialog) override;
    QString BrowseForFolder(QWidget* owner, const QString& title) override;
    void StartProgram(const QString& program) override;
    bool OpenLink(const QString& link) override;
    int ExecDialog(QDialog& dialog) override;
};

// Turns a filter of the form "caption|pattern|caption|pattern" into Qt's name filters; "*.*"
// becomes "*" so that files without an extension are listed too.
QStringList QtNameFilters(const QString& filter);
