// The texts of Qt's own standard dialogs (the open-file and colour dialogs,
// the buttons of message and input boxes) in the user's language, as the
// system's common dialogs follow the system's language: Qt's translations
// (qt6-translations-l10n) for the locale, from Qt's translation folder, or
// from the folder "translations" of the program's own folder in a copy that
// brings them along. Without a translation for the locale, Qt's English
// stays.
#pragma once

// Installs the translations for the current locale (QLocale()), once; true
// when some were found. Called after the application object exists.
bool InstallQtTranslations();
