#pragma once

class QApplication;
class QLocale;

// The program is written with Chinese texts; everyone else gets English.
// The translation is compiled into the program. The language comes from
// QLocale::system(): the first of LC_ALL, LC_MESSAGES and LANG that is set,
// unless LANGUAGE names another one first; the C and POSIX locales mean
// English whatever LANGUAGE says. The settings file is not affected: figure
// names are stored as the user gave them.
//
// Returns true when the English texts are installed. Call it once, after the
// QApplication is made and before any window is.
bool installTranslations(QApplication& app);

// The same for a given locale. A second call replaces what the first
// installed, so tests can switch languages; windows made before the switch
// keep their texts.
bool installTranslations(QApplication& app, const QLocale& locale);

// True when the program's own (Chinese) texts suit this locale.
bool usesChineseTexts(const QLocale& locale);
