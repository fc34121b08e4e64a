// The window's language: chosen at the start from the setting or the desktop, with Qt's own texts
// (the standard buttons and dialogs) loaded beside the program's; and how the window writes dates.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <string>

class QTranslator;

// A language the window speaks: its code and its own name, as the settings dialog lists it.
struct WindowLanguageChoice {
  const char* code;
  const char* name;
};
inline constexpr WindowLanguageChoice kWindowLanguages[] = {
    {"en", "English"}, {"de", "Deutsch"}, {"fr", "Fran\u00e7ais"}, {"es", "Espa\u00f1ol"}};

// Reads a variable of the environment; empty when it is not set.
using EnvironmentReader = std::function<std::string(const char* name)>;

// The language the window speaks: `setting` when it names one of kWindowLanguages; otherwise the
// first of the desktop's languages that the window speaks, as gettext looks for them (the list in
// LANGUAGE, then LC_ALL, LC_MESSAGES, LANG); otherwise English.
std::string ChooseWindowLanguage(const std::string& setting, const EnvironmentReader& environment);
// The same from the process's environment.
std::string ChooseWindowLanguage(const std::string& setting);

// Loads the program's translations of `language` and Qt's own beside them, and makes the
// language's locale (the desktop's own when it speaks that language) the default for dates and
// numbers. English loads nothing and keeps the locale. False, with the window left in English,
// when the program has no translations of `language`.
bool UseWindowLanguage(const std::string& language);
// Puts `translator` in place of the program's translations, as the language `language` (tests
// use a made-up translation this way).
void UseWindowTranslator(std::unique_ptr<QTranslator> translator, const std::string& language);

// The language in use: "en" until another was chosen.
const std::string& WindowLanguage();
bool WindowSpeaksEnglish();

// A count as the window writes it: plain digits in English, as it always has, and as the locale
// writes numbers in the other languages ("1.234" in German).
QString WindowNumber(long long value);

// A window text with a count: `text` (marked with QT_TRANSLATE_N_NOOP, %n for the count) in
// the language's plural form for `count`; in English `textForOne` when the count is 1.
QString CountedText(const char* context, const char* text, const char* textForOne, long long count);

// The format of the dates the window shows and takes: in English the one it has always used (month
// first when the desktop's country is the United States), in the other languages the locale's
// short format with the year in four digits, so that no date reads two ways.
QString WindowDateFormat();
// A DICOM date ("yyyymmdd") in that format; empty stays empty, and a date that is none stays as
// it came.
QString WindowDate(const std::string& dicomDate);
// The format as a person reads it, shown as the date fields' placeholder: "DD/MM/YYYY",
// "TT.MM.JJJJ", "jj/mm/aaaa".
QString WindowDateFormatHint();
