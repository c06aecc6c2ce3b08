// The profile list: the section names of the settings file in the profile box.

#include "ProfileList.h"

#include "IniFile.h"

#include <QCollator>
#include <QComboBox>

#include <algorithm>

QStringList SortedProfileNames(QStringList names)
{
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(names.begin(), names.end(), [&collator](const QString& a, const QString& b) {
        return collator.compare(a, b) < 0;
    });
    return names;
}

void FillProfileList(QComboBox& box, const TIniFile& ini)
{
    QStringList names;
    for (const std::string& name : ini.ReadSections())
        names << QString::fromStdString(name);

    const QString text = box.currentText();
    box.clear();
    box.addItems(SortedProfileNames(names));
    // Adding items to an empty box selects the first one, which would replace the text.
    box.setCurrentIndex(box.findText(text, Qt::MatchExactly));
    box.setEditText(text);
}
