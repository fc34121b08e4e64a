// The window's language and its dates.
#include "windowlanguage.h"

#include <QCoreApplication>
#include <QDate>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdlib>

#include "log.h"
#include "uids.h"

namespace {

struct Translators {
  std::unique_ptr<QTranslator> program;
  std::unique_ptr<QTranslator> qt;
  std::string language = "en";
  // The locale before another language chose its own, for a return to English.
  std::unique_ptr<QLocale> englishLocale;
};

Translators& Installed() {
  static Translators installed;
  return installed;
}

bool Speaks(const std::string& code) {
  for (const WindowLanguageChoice& choice : kWindowLanguages) {
    if (code == choice.code) return true;
  }
  return false;
}

// "de_AT.UTF-8@euro" speaks "de".
std::string LanguageOfLocale(const std::string& locale) {
  return locale.substr(0, locale.find_first_of("_.@"));
}

void RemoveTranslators() {
  Translators& installed = Installed();
  for (std::unique_ptr<QTranslator>* translator : {&installed.program, &installed.qt}) {
    if (*translator) QCoreApplication::removeTranslator(translator->get());
    translator->reset();
  }
  if (installed.englishLocale) QLocale::setDefault(*installed.englishLocale);
  installed.language = "en";
}

void UseLocaleOf(const std::string& language) {
  Translators& installed = Installed();
  if (!installed.englishLocale) installed.englishLocale = std::make_unique<QLocale>();
  // The desktop's own locale keeps its country (Austria's dates, Switzerland's numbers); another
  // language brings the locale of its main country.
  const QLocale wanted(QString::fromStdString(language));
  const QLocale system = QLocale::system();
  QLocale::setDefault(system.language() == wanted.language() ? system : wanted);
}

}  // namespace

std::string ChooseWindowLanguage(const std::string& setting, const EnvironmentReader& environment) {
  if (Speaks(setting)) return setting;
  std::string candidates = environment("LANGUAGE");
  // The locale gettext takes its messages from: the first of these that is set.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string locale = environment(name);
    if (locale.empty()) continue;
    candidates += ":" + locale;
    break;
  }
  size_t start = 0;
  while (start <= candidates.size()) {
    const size_t end = std::min(candidates.find(':', start), candidates.size());
    const std::string language = LanguageOfLocale(candidates.substr(start, end - start));
    if (Speaks(language)) return language;
    start = end + 1;
  }
  return "en";
}

std::string ChooseWindowLanguage(const std::string& setting) {
  return ChooseWindowLanguage(setting, [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value != nullptr ? value : "");
  });
}

bool UseWindowLanguage(const std::string& language) {
  RemoveTranslators();
  if (language == "en" || !Speaks(language)) return language == "en";
  auto program = std::make_unique<QTranslator>();
  if (!program->load(QString::fromStdString(":/i18n/velloran_" + language))) {
    WriteLog("ERROR, UseWindowLanguage, no translations of the window into " + language);
    return false;
  }
  UseWindowTranslator(std::move(program), language);
  // Qt's own texts (the buttons of message boxes, the file dialogs); the window works without.
  auto qt = std::make_unique<QTranslator>();
  if (qt->load(QString::fromStdString("qtbase_" + language),
               QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt.get());
    Installed().qt = std::move(qt);
  } else {
    WriteLog("WARNING, UseWindowLanguage, Qt's own translations into " + language +
             " are missing (package qt6-translations-l10n)");
  }
  return true;
}

void UseWindowTranslator(std::unique_ptr<QTranslator> translator, const std::string& language) {
  Translators& installed = Installed();
  if (installed.program) QCoreApplication::removeTranslator(installed.program.get());
  installed.program = std::move(translator);
  QCoreApplication::installTranslator(installed.program.get());
  installed.language = language;
  UseLocaleOf(language);
}

const std::string& WindowLanguage() {
  return Installed().language;
}

bool WindowSpeaksEnglish() {
  return WindowLanguage() == "en";
}

QString WindowNumber(long long value) {
  return WindowSpeaksEnglish() ? QString::number(value) : QLocale().toString(value);
}

QString CountedText(const char* context, const char* text, const char* textForOne,
                    long long count) {
  if (WindowSpeaksEnglish()) {
    return QString::fromUtf8(count == 1 ? textForOne : text).replace("%n", QString::number(count));
  }
  // %n and %Ln become the count, plain or as the locale writes numbers.
  return QCoreApplication::translate(context, text, nullptr, static_cast<int>(count));
}

QString WindowDateFormat() {
  if (WindowSpeaksEnglish()) {
    return DicomDateToDisplay("20001231").rfind("12/", 0) == 0 ? "MM/dd/yyyy" : "dd/MM/yyyy";
  }
  // Days and months in two digits, the year in four: "d.M.yy" becomes "dd.MM.yyyy".
  const QString shortFormat = QLocale().dateFormat(QLocale::ShortFormat);
  QString format;
  for (qsizetype i = 0; i < shortFormat.size();) {
    const QChar letter = shortFormat[i];
    qsizetype run = 1;
    while (i + run < shortFormat.size() && shortFormat[i + run] == letter) ++run;
    if (letter == 'd' && run <= 2) {
      format += "dd";
    } else if (letter == 'M' && run <= 2) {
      format += "MM";
    } else if (letter == 'y') {
      format += "yyyy";
    } else {
      format += shortFormat.mid(i, run);
    }
    i += run;
  }
  return format;
}

QString WindowDate(const std::string& dicomDate) {
  if (WindowSpeaksEnglish()) return QString::fromStdString(DicomDateToDisplay(dicomDate));
  const QDate date = QDate::fromString(QString::fromStdString(dicomDate), "yyyyMMdd");
  if (!date.isValid()) return QString::fromStdString(dicomDate);
  return QLocale().toString(date, WindowDateFormat());
}

QString WindowDateFormatHint() {
  // The letters a date field's placeholder shows: "DD/MM/YYYY".
  const QString day = QCoreApplication::translate("WindowLanguage", "D", "day in a date format");
  const QString month =
      QCoreApplication::translate("WindowLanguage", "M", "month in a date format");
  const QString year = QCoreApplication::translate("WindowLanguage", "Y", "year in a date format");
  QString hint;
  for (const QChar letter : WindowDateFormat()) {
    if (letter == 'd') {
      hint += day;
    } else if (letter == 'M') {
      hint += month;
    } else if (letter == 'y') {
      hint += year;
    } else {
      hint += letter;
    }
  }
  return hint;
}
