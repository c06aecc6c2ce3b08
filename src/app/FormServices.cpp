#include "FormServices.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QUrl>

QStringList QtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            if (p == QLatin1String("*.*"))
                p = QStringLiteral("*");
        }
        result << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return result;
}

int TDesktopServices::MessageBox(QWidget* owner, const TMessageBoxRequest& request)
{
    QMessageBox box(request.Icon == TMsgIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon,
                    request.Caption, request.Text, QMessageBox::NoButton,
                    request.CenterOnScreen ? nullptr : owner);
    switch (request.Buttons) {
    case TMsgButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case TMsgButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case TMsgButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    }
    if (request.CenterOnScreen) {
        box.adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            box.move(screen->availableGeometry().center() - box.rect().center());
    }
    switch (box.exec()) {
    case QMessageBox::Ok:
        return mrOk;
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    default:
        return mrCancel;
    }
}

bool TDesktopServices::ExecuteOpenDialog(QWidget* owner, TOpenDialog& dialog)
{
    QFileDialog fd(owner, dialog.Title);
    fd.setFileMode((dialog.Options & TOpenDialog::ofAllowMultiSelect) ? QFileDialog::ExistingFiles
                                                                      : QFileDialog::ExistingFile);
    fd.setNameFilters(QtNameFilters(dialog.Filter));
    if (!dialog.FileName.isEmpty())
        fd.selectFile(dialog.FileName);
    else if (!dialog.InitialDir.isEmpty())
        fd.setDirectory(dialog.InitialDir);
    if (fd.exec() != QDialog::Accepted)
        return false;
    dialog.Files = fd.selectedFiles();
    dialog.FileName = dialog.Files.value(0);
    return true;
}

QString TDesktopServices::BrowseForFolder(QWidget* owner, const QString& title)
{
    const QString dir = QFileDialog::getExistingDirectory(owner, title, QDir::homePath());
    if (dir.isEmpty())
        return {};
    QString clean = QDir::cleanPath(dir);
    return clean;
}

void TDesktopServices::StartProgram(const QString& program)
{
    QProcess::startDetached(program, {});
}

bool TDesktopServices::OpenLink(const QString& link)
{
    return QDesktopServices::openUrl(QUrl(link, QUrl::StrictMode));
}

int TDesktopServices::ExecDialog(QDialog& dialog)
{
    return dialog.exec();
}
