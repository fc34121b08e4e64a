// The window's languages: which one is chosen, how messages, numbers and dates read in it, the
// ini's captions winning in every language, and layouts that hold texts 40 % longer than English.
#include "windowlanguage.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleOptionHeader>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTranslator>
#include <cmath>
#include <map>

#include "dicomwebfields.h"
#include "formfixture.h"
#include "inifile.h"
#include "messagewording.h"
#include "outboxform.h"
#include "search.h"
#include "setupform.h"
#include "uids.h"
#ifdef VELLORAN_HAVE_SCANNER
#include "acquisitionform.h"
#include "configform.h"
#include "deviceoptionsdialog.h"
#include "scannerdialogs.h"
#endif

namespace {

// Every text 40 % longer than its source and full of accents, the way German and French run
// long and reach above and below the line; placeholders, line breaks and accelerators stay.
class PseudoTranslator final : public QTranslator {
 public:
  bool isEmpty() const override { return false; }
  QString translate(const char*, const char* source, const char*, int) const override {
    if (source == nullptr || *source == '\0') return {};
    QStringList lines;
    for (const QString& line : QString::fromUtf8(source).split('\n')) lines << Stretched(line);
    return lines.join('\n');
  }

 private:
  static QString Stretched(const QString& line) {
    static const std::map<QChar, QChar> kAccented = {
        {'a', u'\u00e4'}, {'e', u'\u00e9'}, {'i', u'\u00ee'}, {'o', u'\u00f6'}, {'u', u'\u00fc'},
        {'A', u'\u00c5'}, {'E', u'\u00c9'}, {'I', u'\u00ce'}, {'O', u'\u00d6'}, {'U', u'\u00dc'},
        {'c', u'\u00e7'}, {'n', u'\u00f1'}, {'y', u'\u00fd'}, {'C', u'\u00c7'}, {'N', u'\u00d1'}};
    QString text;
    for (qsizetype i = 0; i < line.size(); ++i) {
      // %1, %L1, %n stay as they are.
      if (line[i] == '%' && i + 1 < line.size()) {
        qsizetype end = i + 1;
        if (line[end] == 'L') ++end;
        while (end < line.size() && (line[end].isDigit() || line[end] == 'n')) ++end;
        if (end > i + 1) {
          text += line.mid(i, end - i);
          i = end - 1;
          continue;
        }
      }
      const auto accented = kAccented.find(line[i]);
      text += accented != kAccented.end() ? accented->second : line[i];
    }
    const auto wanted = static_cast<qsizetype>(std::ceil(line.size() * 1.4));
    for (qsizetype i = 0; text.size() < wanted; ++i) text += QChar(i % 2 == 0 ? 0x1e8d : 0x00df);
    return text;
  }
};

// The texts of `window` that do not fit their controls, one line each ("SendBtn: needs 120 x
// 30, has 96 x 30"), as the window is laid out now.
QStringList ClippedTexts(QWidget& window) {
  QStringList clipped;
  auto check = [&](QWidget* widget, QSize needed) {
    if (!widget->isVisibleTo(&window)) return;
    const QSize has = widget->size();
    if (has.width() >= needed.width() && has.height() >= needed.height()) return;
    clipped << QString("%1 \"%2\": needs %3 x %4, has %5 x %6")
                   .arg(widget->objectName(), widget->property("text").toString())
                   .arg(needed.width())
                   .arg(needed.height())
                   .arg(has.width())
                   .arg(has.height());
  };
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().isEmpty()) continue;
    // A label that wraps needs its height at its width; one that does not, its whole line.
    check(label,
          label->wordWrap() ? QSize(0, label->heightForWidth(label->width())) : label->sizeHint());
  }
  for (QAbstractButton* button : window.findChildren<QAbstractButton*>()) {
    // The tab bar's scroll arrows and the like have no text.
    if (!button->text().isEmpty()) check(button, button->sizeHint());
  }
  for (QComboBox* combo : window.findChildren<QComboBox*>()) {
    if (!combo->isEditable()) check(combo, combo->sizeHint());
  }
  for (QDateEdit* date : window.findChildren<QDateEdit*>()) check(date, date->sizeHint());
  // Tabs that do not fit side by side get scroll arrows.
  for (QTabBar* tabs : window.findChildren<QTabBar*>()) {
    if (!tabs->isVisibleTo(&window) || tabs->count() == 0) continue;
    tabs->tabRect(0);  // lays the tabs out
    for (QToolButton* arrow : tabs->findChildren<QToolButton*>()) {
      if (arrow->isVisibleTo(&window))
        clipped << "the tabs of " + tabs->parentWidget()->objectName();
    }
  }
  for (QHeaderView* header : window.findChildren<QHeaderView*>()) {
    if (!header->isVisibleTo(&window) || header->orientation() != Qt::Horizontal) continue;
    for (int i = 0; i < header->count(); ++i) {
      QStyleOptionHeader option;
      option.initFrom(header);
      option.section = i;
      option.text = header->model()->headerData(i, Qt::Horizontal).toString();
      // Drawn bold while its column is selected.
      QFont bold = header->font();
      bold.setBold(true);
      option.fontMetrics = QFontMetrics(bold);
      const int needed = header->style()
                             ->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), header)
                             .width();
      if (header->sectionSize(i) < needed) {
        clipped << header->parentWidget()->objectName() + " header \"" +
                       header->model()->headerData(i, Qt::Horizontal).toString() + "\"";
      }
    }
  }
  return clipped;
}

// Shows `window` at the size it opens at (on the offscreen platform) and lists its clipped texts.
QStringList ClippedWhenShown(QWidget& window) {
  window.show();
  WaitFor([&window] { return window.isVisible(); });
  QCoreApplication::processEvents();
  return ClippedTexts(window);
}

std::string Joined(const QStringList& lines) {
  return lines.join("\n").toStdString();
}

class WindowLanguageTest : public FormTest {
 protected:
  void TearDown() override {
    FormTest::TearDown();
    UseWindowLanguage("en");
  }
};

TEST(ChooseWindowLanguage, TheSettingElseTheDesktopsFirstLanguageWeSpeakElseEnglish) {
  const struct {
    const char* setting;
    std::map<std::string, std::string> environment;
    const char* chosen;
  } rows[] = {
      {"", {}, "en"},
      {"", {{"LANG", "de_DE.UTF-8"}}, "de"},
      {"", {{"LANGUAGE", "fr_CA:de"}, {"LANG", "de_DE.UTF-8"}}, "fr"},
      // A language the window does not speak is passed over for the next in the list.
      {"", {{"LANGUAGE", "pt_BR:es"}, {"LANG", "pt_BR.UTF-8"}}, "es"},
      {"", {{"LANGUAGE", "nl"}, {"LANG", "C.UTF-8"}}, "en"},
      // LC_ALL comes before LC_MESSAGES, which comes before LANG.
      {"", {{"LC_ALL", "es_ES.UTF-8"}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "de_DE"}}, "es"},
      {"", {{"LC_MESSAGES", "fr_FR@euro"}, {"LANG", "de_DE"}}, "fr"},
      {"", {{"LANGUAGE", "en_GB:de"}}, "en"},
      {"de", {{"LANG", "fr_FR.UTF-8"}}, "de"},
      {"en", {{"LANG", "fr_FR.UTF-8"}}, "en"},
      // A setting the window does not know leaves the choice to the desktop.
      {"pt", {{"LANG", "fr_FR.UTF-8"}}, "fr"},
  };
  for (const auto& row : rows) {
    const std::string chosen = ChooseWindowLanguage(row.setting, [&row](const char* name) {
      const auto found = row.environment.find(name);
      return found == row.environment.end() ? std::string() : found->second;
    });
    EXPECT_EQ(chosen, row.chosen) << row.setting << " " << row.environment.size();
  }
}

// The same messages in each language: counts with their plural forms and the locale's digits,
// causes worded inside their sentences, dates in the locale's short format with four-digit years.
TEST_F(WindowLanguageTest, MessagesNumbersAndDatesReadAsEachLanguageWritesThem) {
  const UserMessage oneShown =
      SearchStoppedMessage(UserMessage(UserMessageKind::PacsClosedSearch), 1);
  const UserMessage manyShown =
      SearchStoppedMessage(UserMessage(UserMessageKind::WorklistClosedSearch), 1234);
  // A file named like a placeholder keeps its name: each placeholder is filled once.
  const UserMessage notSent(
      UserMessageKind::ItemsNotSent,
      {UserMessage::Number(1), UserMessage::Number(7),
       UserMessage(UserMessageKind::NamedReason,
                   {UserMessage::Text("%3.odt"), UserMessage(UserMessageKind::UnknownKind)})});
  const struct {
    const char* language;
    const char* one;
    const char* many;
    const char* notSent;
    const char* format;
    const char* date;
    const char* hint;
    const char* qtCancel;  // Qt's own translation of its standard button
  } rows[] = {
      {"en", "Search stopped: the PACS closed the connection; 1 entry shown",
       "Search stopped: the worklist server closed the connection; 1234 entries shown",
       "1 of 7 items were not sent: %3.odt (unknown kind)", nullptr, nullptr, nullptr, "Cancel"},
      {"de", "Suche abgebrochen: das PACS hat die Verbindung geschlossen; 1 Eintrag angezeigt",
       "Suche abgebrochen: der Worklist-Server hat die Verbindung geschlossen; 1.234 Eintr\u00e4ge "
       "angezeigt",
       "1 von 7 Dateien wurde nicht gesendet: %3.odt (unbekannte Art)", "dd.MM.yyyy",
       "12.05.1980", "TT.MM.JJJJ", "Abbrechen"},
      {"fr",
       "Recherche interrompue : le PACS a ferm\u00e9 la connexion ; 1 entr\u00e9e affich\u00e9e",
       "Recherche interrompue : le serveur de worklist a ferm\u00e9 la connexion ; 1\u202f234 "
       "entr\u00e9es affich\u00e9es",
       "1 fichier sur 7 n'a pas \u00e9t\u00e9 envoy\u00e9 : %3.odt (type inconnu)", "dd/MM/yyyy",
       "12/05/1980", "JJ/MM/AAAA", "Annuler"},
      {"es",
       "B\u00fasqueda interrumpida: el PACS cerr\u00f3 la conexi\u00f3n; se muestra 1 entrada",
       "B\u00fasqueda interrumpida: el servidor de worklist cerr\u00f3 la conexi\u00f3n; se "
       "muestran "
       "1234 entradas",
       "1 de 7 archivos no se envi\u00f3: %3.odt (tipo desconocido)", "dd/MM/yyyy", "12/05/1980",
       "DD/MM/AAAA", "Cancelar"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.language);
    ASSERT_TRUE(UseWindowLanguage(row.language));
    EXPECT_EQ(Worded(oneShown), QString::fromUtf8(row.one));
    EXPECT_EQ(Worded(manyShown), QString::fromUtf8(row.many));
    EXPECT_EQ(Worded(notSent), QString::fromUtf8(row.notSent));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), row.qtCancel);
    if (row.format == nullptr) {
      // English keeps the program's own words and dates, whatever the locale.
      EXPECT_EQ(Worded(manyShown).toStdString(), manyShown.English());
      EXPECT_EQ(WindowDate("19800512").toStdString(), DicomDateToDisplay("19800512"));
      continue;
    }
    EXPECT_EQ(WindowDateFormat(), row.format);
    EXPECT_EQ(WindowDate("19800512"), row.date);
    EXPECT_EQ(WindowDateFormatHint(), row.hint);
    // What is not a date stays as it came.
    EXPECT_EQ(WindowDate(""), "");
    EXPECT_EQ(WindowDate("1980"), "1980");
  }
}

// In German the window speaks German, shows dates as the locale writes them and names their
// format; a caption the ini's caption section sets wins in every language.
TEST_F(WindowLanguageTest, TheWindowSpeaksTheLanguageAndTheIniCaptionsStillWin) {
  ASSERT_TRUE(UseWindowLanguage("de"));
  TForm1& form = Form("[MainForm]\nPatientIDLbl=Paciente\nStringGrid1Sex=G\n");
  EXPECT_EQ(form.PatientIDLbl->text(), "Paciente");
  EXPECT_EQ(form.Edit1->accessibleName(), "Paciente");
  EXPECT_EQ(form.PatientNameLbl->text(), "Patientenname");
  EXPECT_EQ(form.SendBtn->text(), "Senden");
  EXPECT_EQ(form.ScanBtn->text(), "Scannen");
  EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(2)->text(), "G");
  EXPECT_EQ(form.StringGrid1->horizontalHeaderItem(3)->text(), "Geburtsdatum");
  EXPECT_EQ(form.DateTimePicker1->text(), "unbekannt");
  EXPECT_EQ(form.DateTimePicker2->displayFormat(), "dd.MM.yyyy");
  EXPECT_EQ(form.DateTimePicker2->toolTip(), "TT.MM.JJJJ");
  form.DateTimePicker2->setDate(QDate(2024, 3, 1));
  EXPECT_EQ(form.DateTimePicker2->text(), "01.03.2024");
  EXPECT_EQ(form.ComboBox2->itemText(0), "ALLE");
  // The box still means every modality: no filter, and "OT" for a batch.
  EXPECT_EQ(form_->ComboBox2->currentIndex(), 0);
  form.Edit2->setText("DOE^JANE");
  form.Edit1->setText("PID1");

  // Without items the batch does not run; the message is German.
  form.SendBtnClick();
  ASSERT_FALSE(dialogs_.messages.isEmpty());
  EXPECT_EQ(dialogs_.messages.last(), "Keine Dateien zum Senden");

  // The setting "Language" in the Local tab is saved for the next start.
  TSetupFrm& setup = form.SetupForm();
  EXPECT_EQ(setup.ComboLanguage->currentIndex(), 0);
  setup.ComboLanguage->setCurrentIndex(setup.ComboLanguage->findData("fr"));
  setup.BitBtn1Click();
  EXPECT_EQ(setupcfg.Language, "fr");
  IniFile file((app_ / "velloran.ini").string());
  ASSERT_TRUE(file.Load());
  EXPECT_EQ(file.ReadString("velloran", "Language", ""), "fr");
  EXPECT_EQ(dialogs_.messages.last(),
            "Das Fenster spricht die gew\u00e4hlte Sprache ab dem n\u00e4chsten Start.");
}

#ifdef VELLORAN_HAVE_SCANNER
// The scanner window's message boxes, answered at once.
class QuietScannerDialogs final : public ScannerDialogs {
 public:
  void Message(QWidget*, const QString&) override {}
  int Run(QDialog&) override { return QDialog::Rejected; }
};
#endif

// Every text of the main window, the settings dialog (each tab, and the PACS tab with the
// DICOMweb fields), the outbox dialog and the scanner's windows that does not fit its control at
// the size the window opens at, each line naming its window.
QStringList ClippedInEveryWindow(TForm1& form, DialogProvider& dialogs) {
  QStringList clipped;
  auto add = [&clipped](const QString& window, const QStringList& lines) {
    for (const QString& line : lines) clipped << window + ": " + line;
  };
  form.show();
  WaitFor([&form] { return form.isVisible(); });
  // The line above Send naming the batch's patient, as it shows while a result is chosen.
  form.BatchForLbl->setText(Worded(UserMessage(
      UserMessageKind::BatchForWithAccession,
      {UserMessage::Text("DOE^JANE"), UserMessage::Text("12345"), UserMessage::Text("0042")})));
  form.BatchForLbl->show();
  QCoreApplication::processEvents();
  add("main window", ClippedTexts(form));
  form.BatchForLbl->hide();

  TSetupFrm& setup = form.SetupForm();
  for (int tab = 0; tab < setup.PageControl1->count(); ++tab) {
    setup.PageControl1->setCurrentIndex(tab);
    add("settings, tab " + QString::number(tab), ClippedWhenShown(setup));
  }
  setup.PageControl1->setCurrentIndex(1);
  setup.WebFields->Protocol->setCurrentIndex(1);
  add("settings with DICOMweb", ClippedWhenShown(setup));
  setup.WebFields->Protocol->setCurrentIndex(0);
  setup.PageControl1->setCurrentIndex(0);
  setup.hide();

  if (form.OutboxOfWindow() != nullptr) {
    TOutboxFrm outbox(*form.OutboxOfWindow(), *form.Sender(), dialogs, &form);
    add("outbox", ClippedWhenShown(outbox));
  } else {
    clipped << "the outbox could not be opened";
  }

#ifdef VELLORAN_HAVE_SCANNER
  // No scanner backend at all: the window finds none at once, and says so quietly.
  testsupport::TempDir noScanners;
  ::setenv("SANE_CONFIG_DIR", noScanners.path().c_str(), 1);
  TAcquisitionForm scanner(form.Items(), form.Folders().workFolder);
  scanner.SetDialogs(std::make_shared<QuietScannerDialogs>());
  add("scanner", ClippedWhenShown(scanner));
  WaitFor([&scanner] { return !scanner.Listing(); });
  scanner.hide();
  TConfigFrm configuration;
  add("scanner configuration", ClippedWhenShown(configuration));
  DeviceMainOptions options;
  options.source.available = true;
  options.mode.available = true;
  options.source.value = "Flatbed";
  options.source.choices = {"Flatbed", "Automatic Document Feeder"};
  options.mode.value = "Color";
  options.mode.choices = {"Color", "Gray"};
  DeviceOptionsDialog device(options, "test:0");
  add("scanner device dialog", ClippedWhenShown(device));
#endif
  return clipped;
}

// Under a translation 40 % longer than English, every label, button, box, tab and column header
// of the window, its dialogs and the scanner's windows still shows its whole text at the size the
// window opens at.
TEST_F(WindowLanguageTest, LayoutsHoldTextsFortyPercentLongerWithAccents) {
  UseWindowTranslator(std::make_unique<PseudoTranslator>(), "de");
  TForm1& form = Form();
  EXPECT_TRUE(form.SendBtn->text().startsWith(u"S\u00e9\u00f1d"))
      << form.SendBtn->text().toStdString();
  EXPECT_EQ(Joined(ClippedInEveryWindow(form, dialogs_)), "");
}

// The same with the real translations, whose short words may run longer than that.
TEST_F(WindowLanguageTest, EveryLanguageFitsItsWindows) {
  for (const char* language : {"en", "de", "fr", "es"}) {
    SCOPED_TRACE(language);
    ASSERT_TRUE(UseWindowLanguage(language));
    EXPECT_EQ(Joined(ClippedInEveryWindow(Form(), dialogs_)), "");
  }
}

}  // namespace
