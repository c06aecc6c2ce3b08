// Files entering and leaving the upload queue outside a run, and the remote directory mapping.

#include "DirectoryWalk.h"
#include "MainUnit.h"
#include "RemoteDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>

namespace {

// Regular files only: a directory is walked or skipped, and a FIFO or device is no page.
bool IsExistingFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

bool IsExistingDirectory(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isDir();
}

} // namespace

void TMainForm::QueueCommandLineFiles()
{
    TUploadQueue& queue = UploadQueue();
    const QString workingDirectory = QDir::currentPath();
    for (const QString& argument : m_start.Arguments) {
        // What cannot be normalised comes back as given; a relative text left over that way
        // is no path of this start's.
        const QString path = NormalizeArgument(argument, workingDirectory);
        if (!QDir::isAbsolutePath(path) || !IsExistingFile(path) || queue.Contains(path))
            continue;
        queue.Append(path);
        if (queue.Count() == 1)
            queue.Select(0);
    }
}

bool TMainForm::WMCopyData(const QByteArray& data)
{
    const qsizetype end = data.indexOf('\0');
    const QString path = QFile::decodeName(end < 0 ? data : data.left(end));
    // The sender makes its arguments absolute; a relative text would be taken against this
    // process's working directory and name some other file.
    TUploadQueue& queue = UploadQueue();
    if (QDir::isAbsolutePath(path) && IsExistingFile(path) && !queue.Contains(path)) {
        queue.Append(path);
        cbUploadFileChange();
    }
    // The profile search step goes here.
    if (isMinimized())
        showNormal();
    ApplicationIdle();
    return true;
}

void TMainForm::WMDropFiles(const QStringList& paths)
{
    TUploadQueue& queue = UploadQueue();
    {
        TUploadQueue::Batch batch(queue);
        for (const QString& path : paths) {
            const QFileInfo info(path);
            if (info.isDir()) {
                AddDirectoryTree(path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/'));
            } else if (info.isFile() && !queue.Contains(path)) {
                queue.Append(path);
            }
        }
    }
    cbUploadFileChange();
    // The profile search step goes here.
}

void TMainForm::AddDirectoryTree(const QString& directory)
{
    TUploadQueue& queue = UploadQueue();
    // One insertion into the box for the whole tree: item by item, a big folder takes minutes.
    TUploadQueue::Batch batch(queue);
    WalkDirectoryTree(
        directory,
        [&queue](const QString& file) {
            if (!queue.Contains(file))
                queue.Append(file);
        },
        [this] { cbUploadFileChange(); });
}

void TMainForm::refUpLoadFileBtnClick()
{
    const QString current = cbUploadFile->currentText();
    const QString localTop = edLocalHomeDir->text();
    if (IsExistingFile(current))
        OpenDialog1.FileName = current;
    else if (IsExistingDirectory(localTop))
        OpenDialog1.InitialDir = localTop;

    if (m_services->ExecuteOpenDialog(this, OpenDialog1)) {
        TUploadQueue& queue = UploadQueue();
        {
            TUploadQueue::Batch batch(queue);
            for (const QString& file : std::as_const(OpenDialog1.Files))
                queue.Append(file);
        }
        cbUploadFileChange();
    }
    // The profile search step goes here.
}

void TMainForm::ClearBtnClick()
{
    TUploadQueue& queue = UploadQueue();
    const int selected = queue.SelectedIndex();
    if (selected >= 0)
        queue.RemoveAt(selected);
    if (queue.Count() > 0) {
        queue.Select(0);
    } else {
        const QSignalBlocker blocker(cbUploadFile);
        cbUploadFile->setEditText(QString());
    }
    cbUploadFileChange();
}

void TMainForm::cbUploadFileChange()
{
    TUploadQueue& queue = UploadQueue();
    lbWaitNum->setText(QString::number(queue.Count()));
    if (queue.Count() > 0 && queue.SelectedIndex() < 0)
        queue.Select(0);
    edUploadDir->setText(MapRemoteDirectory(NativePathStyle(), cbUploadFile->currentText(),
                                            edLocalHomeDir->text(), edHostHomeDir->text()));
}

void TMainForm::RefBtnClick()
{
    const QString folder = BrowseForFolder(QStringLiteral("ローカルの初期ディレクトリの選択："));
    if (!folder.isEmpty())
        edLocalHomeDir->setText(folder);
    cbUploadFileChange();
}

QString TMainForm::BrowseForFolder(const QString& title)
{
    return m_services->BrowseForFolder(this, title);
}
