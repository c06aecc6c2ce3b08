#pragma once

// Builds main windows for tests: a program directory of the test's own, and desktop services
// that answer from a script instead of opening modal windows.

#include "FormServices.h"
#include "MainUnit.h"

#include <QDialog>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <memory>

class TFakeServices : public TFormServices
{
public:
    // Answers for the next message boxes, in order; mrOk when the script runs out.
    std::deque<int> MessageBoxAnswers;
    std::vector<TMessageBoxRequest> MessageBoxes;

    // The open dialog: the files it returns, or a cancel when empty.
    QStringList OpenDialogResult;
    std::vector<TOpenDialog> OpenDialogCalls; // the settings at each call

    QString FolderResult; // empty: the user cancelled
    QStringList FolderTitles;

    QStringList StartedPrograms;
    QStringList OpenedLinks;
    bool LinkHandlerExists = true;

    // Runs while a dialog is "modal"; its return value is the dialog's result.
    std::function<int(QDialog&)> OnExecDialog;
    int ExecDialogCalls = 0;

    int MessageBox(QWidget*, const TMessageBoxRequest& request) override
    {
        MessageBoxes.push_back(request);
        if (MessageBoxAnswers.empty())
            return mrOk;
        const int answer = MessageBoxAnswers.front();
        MessageBoxAnswers.pop_front();
        return answer;
    }
    bool ExecuteOpenDialog(QWidget*, TOpenDialog& dialog) override
    {
        OpenDialogCalls.push_back(dialog);
        if (OpenDialogResult.isEmpty())
            return false;
        dialog.Files = OpenDialogResult;
        dialog.FileName = OpenDialogResult.front();
        return true;
    }
    QString BrowseForFolder(QWidget*, const QString& title) override
    {
        FolderTitles << title;
        return FolderResult;
    }
    void StartProgram(const QString& program) override { StartedPrograms << program; }
    bool OpenLink(const QString& link) override
    {
        OpenedLinks << link;
        return LinkHandlerExists;
    }
    int ExecDialog(QDialog& dialog) override
    {
        ++ExecDialogCalls;
        return OnExecDialog ? OnExecDialog(dialog) : QDialog::Rejected;
    }
};

// A main window over a program directory that the fixture owns (or one the test names).
struct TFormFixture
{
    QTemporaryDir Dir;
    TFakeServices* Services = nullptr; // owned by Form
    std::unique_ptr<TMainForm> Form;

    explicit TFormFixture(const QStringList& arguments = {}, const QString& programDir = {})
    {
        IsConnected = false;
        IsBusy = false;
        AbortRequested = false;
        auto services = std::make_unique<TFakeServices>();
        Services = services.get();
        const QString dir = programDir.isEmpty() ? Dir.path() : programDir;
        Form = std::make_unique<TMainForm>(TStartInfo{dir + QStringLiteral("/lodrin"), arguments},
                                           std::move(services));
    }
    QString ProgramDir() const { return Form->ProgramDirectory(); }

    template <class T> T* Control(const char* name) const
    {
        return Form->findChild<T*>(QString::fromLatin1(name));
    }
};
