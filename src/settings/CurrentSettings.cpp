// The last-used values: section CURRENT of the settings file and the extension list file.

#include "MainUnit.h"

#include <QGuiApplication>
#include <QScreen>

#include "IniFile.h"
#include "ProfileList.h"
#include "TextFile.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr std::string_view kCurrent = "CURRENT";

std::string FileName(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::string U8(const QString& text)
{
    return text.toStdString();
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// A line of the settings file cannot hold a line break or NUL, but a field can: pasted text, or a
// NUL read from a damaged file. They are dropped, so that one stray character cannot make every
// save, and with it every close, fail.
QString OneLine(QString text)
{
    text.remove(QChar(u'\0'));
    text.remove(QChar(u'\r'));
    text.remove(QChar(u'\n'));
    return text;
}

void ReadText(const TIniFile& ini, std::string_view key, QLineEdit* edit)
{
    edit->setText(OneLine(Q(ini.ReadString(kCurrent, key, U8(edit->text())))));
}

void ReadChecked(const TIniFile& ini, std::string_view key, QCheckBox* box, bool defaultValue)
{
    box->setChecked(ini.ReadBool(kCurrent, key, defaultValue));
}

void WriteText(TIniFile& ini, std::string_view key, const QLineEdit* edit)
{
    ini.WriteString(kCurrent, key, U8(OneLine(edit->text())));
}

} // namespace

QString TMainForm::SettingsFilePath() const
{
    return m_programDirectory + QLatin1Char('/') + QStringLiteral("Lodrin.ini");
}

QString TMainForm::TextExtFilePath() const
{
    return m_programDirectory + QLatin1Char('/') + QStringLiteral("TextExt.txt");
}

void TMainForm::LoadProfileList()
{
    const TIniFile ini(FileName(SettingsFilePath()));
    FillProfileList(*cbProfileName, ini);
}

// A stored position from another screen layout must not put the window out of reach: keep it
// when a corner of the title bar is on some screen, else use the primary screen's corner.
static QPoint OnSomeScreen(QPoint at)
{
    const QRect grip(at, QSize(120, 24));
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(grip))
            return at;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->availableGeometry().topLeft() : at;
}

void TMainForm::LoadCurrentSettings()
{
    const TIniFile ini(FileName(SettingsFilePath()));

    // Moving marks the window as placed by the program; without a stored position the window
    // manager keeps choosing where it opens.
    const QPoint at = pos();
    const int top = ini.ReadInteger(kCurrent, "FORMTOP", at.y());
    const int left = ini.ReadInteger(kCurrent, "FORMLEFT", at.x());
    if (QPoint(left, top) != at)
        move(OnSomeScreen(QPoint(left, top)));

    cbProfileName->setEditText(OneLine(Q(ini.ReadString(kCurrent, "PROFILE", "新規"))));
    ReadText(ini, "HOST", edHostName);
    ReadText(ini, "UID", edUserId);
    ReadChecked(ini, "SAVEPWD", ckSavePassword, ckSavePassword->isChecked());
    if (ckSavePassword->isChecked())
        ReadText(ini, "PWD", edPassword);
    ReadChecked(ini, "PASSIVE", ckPassive, ckPassive->isChecked());
    ReadText(ini, "DIR", edHostHomeDir);
    ReadText(ini, "LOCDIR", edLocalHomeDir);
    ReadText(ini, "TIMEOUT", edTimeOut);
    ReadText(ini, "PORT", edPort);
    ReadText(ini, "PROXYSERVER", edProxyServer);
    ReadText(ini, "PROXYPORT", edProxyPort);
    ReadText(ini, "PROXYUSERNAME", edProxyUserName);
    ReadText(ini, "PROXYPASSWORD", edProxyPassword);
    const int proxyType = ini.ReadInteger(kCurrent, "PROXYTYPE", cbProxyType->currentIndex());
    cbProxyType->setCurrentIndex(proxyType >= 0 && proxyType < cbProxyType->count() ? proxyType
                                                                                    : -1);
    // The window description checks close-after-transfer; a missing key still means off.
    ReadChecked(ini, "CLOSE_AFTER_TRANSFER", ckCloseAfterTransfer, false);
    ReadChecked(ini, "START_ON_SET", ckStartOnSet, false);
    ReadChecked(ini, "SEARCH_PROFILE", ckSearchProfile, false);

    const QString textExt = TextExtFilePath();
    if (QFileInfo::exists(textExt))
        mmTextExt->setPlainText(Q(LoadTextFile(FileName(textExt))));
}

void TMainForm::SaveCurrentSettings()
{
    TIniFile ini(FileName(SettingsFilePath()));

    const QPoint at = pos();
    ini.WriteInteger(kCurrent, "FORMTOP", at.y());
    ini.WriteInteger(kCurrent, "FORMLEFT", at.x());
    ini.WriteString(kCurrent, "PROFILE", U8(OneLine(cbProfileName->currentText())));
    WriteText(ini, "HOST", edHostName);
    WriteText(ini, "UID", edUserId);
    ini.WriteBool(kCurrent, "SAVEPWD", ckSavePassword->isChecked());
    // Without saved passwords an earlier PWD stays in the file; loading then ignores it.
    if (ckSavePassword->isChecked())
        WriteText(ini, "PWD", edPassword);
    ini.WriteBool(kCurrent, "PASSIVE", ckPassive->isChecked());
    WriteText(ini, "DIR", edHostHomeDir);
    WriteText(ini, "LOCDIR", edLocalHomeDir);
    WriteText(ini, "TIMEOUT", edTimeOut);
    WriteText(ini, "PORT", edPort);
    WriteText(ini, "PROXYSERVER", edProxyServer);
    WriteText(ini, "PROXYPORT", edProxyPort);
    WriteText(ini, "PROXYUSERNAME", edProxyUserName);
    WriteText(ini, "PROXYPASSWORD", edProxyPassword);
    ini.WriteInteger(kCurrent, "PROXYTYPE", cbProxyType->currentIndex());
    ini.WriteBool(kCurrent, "CLOSE_AFTER_TRANSFER", ckCloseAfterTransfer->isChecked());
    ini.WriteBool(kCurrent, "START_ON_SET", ckStartOnSet->isChecked());
    ini.WriteBool(kCurrent, "SEARCH_PROFILE", ckSearchProfile->isChecked());

    SaveTextFile(FileName(TextExtFilePath()), U8(mmTextExt->toPlainText()));
}
