#pragma once

// A main window beside a site folder of the test's own: the tops point at it, and paths in the
// tables are written relative to it ("@" stands for the folder itself).

#include "FormFixture.h"
#include "Messages.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrl>

struct TIntakeFixture : TFormFixture
{
    QTemporaryDir SiteDir;
    QString Site; // the local top directory
    QComboBox* UploadFile;
    QLineEdit* LocalTop;
    QLineEdit* RemoteTop;
    QLineEdit* UploadDir;
    QLabel* WaitNum;

    explicit TIntakeFixture(const QStringList& arguments = {})
        : TFormFixture(arguments), Site(SiteDir.path()),
          UploadFile(Control<QComboBox>("cbUploadFile")),
          LocalTop(Control<QLineEdit>("edLocalHomeDir")),
          RemoteTop(Control<QLineEdit>("edHostHomeDir")),
          UploadDir(Control<QLineEdit>("edUploadDir")), WaitNum(Control<QLabel>("lbWaitNum"))
    {}

    // Sets the two tops; each change runs the mapping.
    void SetTops(const QString& local, const QString& remote = QStringLiteral("/public_html"))
    {
        LocalTop->setText(local);
        RemoteTop->setText(remote);
    }

    // "@" becomes the site folder; other texts are taken as they are.
    QString Abs(const QString& relative) const
    {
        QString path = relative;
        return path.replace(QLatin1Char('@'), Site);
    }
    QStringList Abs(const QStringList& relative) const
    {
        QStringList paths;
        for (const QString& p : relative)
            paths << Abs(p);
        return paths;
    }

    // Items, with the site folder written as "@" again.
    QStringList Items() const
    {
        QStringList items = Form->UploadQueue().Items();
        for (QString& item : items)
            item.replace(Site, QStringLiteral("@"));
        return items;
    }

    // Creates files (paths ending with "/" are folders) below the site folder.
    bool Make(const QStringList& paths) const
    {
        for (const QString& p : paths) {
            const QString path = Abs(p);
            if (path.endsWith(QLatin1Char('/'))) {
                if (!QDir().mkpath(path))
                    return false;
                continue;
            }
            if (!QDir().mkpath(QFileInfo(path).path()))
                return false;
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return false;
        }
        return true;
    }

    // Items queued from the program, as a run or an earlier intake would have left them.
    void Queue(const QStringList& paths)
    {
        for (const QString& p : paths)
            Form->UploadQueue().Append(Abs(p));
        Form->cbUploadFileChange();
    }

    // Marks the outputs of the mapping so a test sees whether it ran.
    void MarkMappingOutputs()
    {
        UploadDir->setText(QStringLiteral("<typed>"));
        WaitNum->setText(QStringLiteral("<stale>"));
    }

    // The remote directory of a file given relative to the site folder, with the default tops.
    static QString RemoteOf(const QString& relative)
    {
        const QString dir = QFileInfo(relative).path(); // "@" or "@/sub"
        return QStringLiteral("/public_html") + dir.mid(1);
    }

    // Drops the paths on the window as a file manager does: as file URLs. Returns whether the
    // window took the drag.
    bool Drop(const QStringList& paths)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(Abs(p));
        mime.setUrls(urls);
        // The application hands a drop only to the widget that accepted the drag's entry.
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.get(), &enter);
        QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(Form.get(), &drop);
        return enter.isAccepted();
    }

    // Hands bytes over as another instance does; returns the answer.
    qintptr HandOver(const QByteArray& bytes)
    {
        TCopyDataEvent message(bytes);
        QCoreApplication::sendEvent(Form.get(), &message);
        return message.Result;
    }
};
