#pragma once

#include <QStringList>

class QComboBox;
class TIniFile;

/// The profile names in the order the profile box shows them: sorted without regard to case in
/// the user's locale; names that compare equal keep their order.
QStringList SortedProfileNames(QStringList names);

/// Replaces the items of the profile box with the names of all sections of the settings file,
/// sorted as SortedProfileNames does. The box keeps the text it shows.
void FillProfileList(QComboBox& box, const TIniFile& ini);
