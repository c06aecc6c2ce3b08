// The last-used values: section CURRENT of the settings file and the extension list file.

#include "MainUnit.h"

QString TMainForm::SettingsFilePath() const
{
    return m_programDirectory + QLatin1Char('/') + QStringLiteral("Lodrin.ini");
}

QString TMainForm::TextExtFilePath() const
{
    return m_programDirectory + QLatin1Char('/') + QStringLiteral("TextExt.txt");
}

void TMainForm::LoadProfileList() {}

void TMainForm::LoadCurrentSettings() {}

void TMainForm::SaveCurrentSettings() {}
