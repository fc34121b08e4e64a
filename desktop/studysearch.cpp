// The searches and the grid of what they found.
#include "studysearch.h"

#include <QHeaderView>
#include <QTableWidget>
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "batchpatient.h"
#include "guiwork.h"
#include "inifile.h"
#include "messagewording.h"
#include "searchweb.h"
#include "send.h"
#include "windowlanguage.h"

namespace {

// A grid header, its caption key and its column width.
struct GridColumn {
  const char* key;
  const char* header;
  int width;
};
constexpr GridColumn kGridColumns[] = {
    {"StringGrid1Name", QT_TRANSLATE_NOOP("StudySearch", "Name"), 120},
    {"StringGrid1ID", QT_TRANSLATE_NOOP("StudySearch", "ID"), 60},
    {"StringGrid1Sex", QT_TRANSLATE_NOOP("StudySearch", "Sex"), 30},
    {"StringGrid1BD", QT_TRANSLATE_NOOP("StudySearch", "Birth Date"), 60},
    {"StringGrid1StudyDescription", QT_TRANSLATE_NOOP("StudySearch", "Study Description"), 120},
    {"StringGrid1StudyDate", QT_TRANSLATE_NOOP("StudySearch", "Study Date"), 60},
    {"StringGrid1AN", QT_TRANSLATE_NOOP("StudySearch", "Accession N."), 60},
};

}  // namespace

StudySearch::StudySearch(QWidget* parent) {
  StringGrid1 = new QTableWidget(1, 7, parent);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setAccessibleName(tr("Results"));
  StringGrid1->setMinimumSize(200, 60);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->verticalHeader()->setVisible(false);
  StringGrid1->verticalHeader()->setDefaultSectionSize(20);
  // The name and the description take what the window gives beyond the designed widths.
  StringGrid1->horizontalHeader()->setMinimumSectionSize(24);
  for (int column : {0, 4}) {
    StringGrid1->horizontalHeader()->setSectionResizeMode(column, QHeaderView::Stretch);
  }
  StringGrid1->setShowGrid(true);
}

void StudySearch::SetHeaders(const IniFile& file, const char* captionSection) {
  QStringList headers;
  for (const GridColumn& column : kGridColumns) {
    // A header the ini's caption section sets wins, in every language.
    headers << (file.HasKey(captionSection, column.key)
                    ? QString::fromStdString(file.ReadString(captionSection, column.key, ""))
                    : tr(column.header));
  }
  StringGrid1->setHorizontalHeaderLabels(headers);
  // The designed widths, or the header's own where the desktop's font needs more to show it.
  const QFontMetrics header(StringGrid1->horizontalHeader()->font());
  for (size_t column = 0; column < std::size(kGridColumns); ++column) {
    StringGrid1->setColumnWidth(
        static_cast<int>(column),
        std::max(kGridColumns[column].width,
                 header.horizontalAdvance(headers[static_cast<int>(column)]) + 10));
  }
}

QString StudySearch::SearchPacs(const SearchForm& form, const SetupConfig& settings) {
  // The search captures what it reads by value: a stopped search runs on after the wait ends.
  return Run(
      [form, settings](std::vector<StudyInfo>& found, UserMessage& stopCause,
                       std::stop_token stop) {
        return SearchPACSBySettings(settings, form, found, stop, &stopCause);
      },
      PacsName(settings));
}

QString StudySearch::SearchWorklist(const SearchForm& form, const SetupConfig& settings) {
  return Run(
      [form, node = WorklistNode(settings)](std::vector<StudyInfo>& found, UserMessage& stopCause,
                                            std::stop_token stop) {
        return ::SearchWorklist(node, form, found, stop, &stopCause);
      },
      settings.worklistAET);
}

QString StudySearch::Run(Search search, const std::string& calledAet) {
  // The search owns what it reads: when the user stops it, the wait ends at once, and the stop
  // token makes a C-FIND send its cancel; the search then reads to the final response and releases
  // on its own thread while the window goes on.
  stop_ = std::stop_source();
  struct Found {
    SearchOutcome outcome = SearchOutcome::NotConnected;
    std::vector<StudyInfo> studies;
    UserMessage stopCause;
  };
  std::optional<Found> found =
      RunStoppableBesideEventLoop([search = std::move(search), stop = stop_.get_token()] {
        Found result;
        result.outcome = search(result.studies, result.stopCause, stop);
        return result;
      });
  if (!found) {
    // Stopped by the user, who knows it: the grid stays empty.
    results_.clear();
    return {};
  }
  results_ = std::move(found->studies);
  if (found->outcome == SearchOutcome::NotConnected) {
    //: %1 is the AE title or address of the PACS or worklist server.
    return tr("ERROR, couldn't connect to %1").arg(QString::fromStdString(calledAet));
  }
  if (found->outcome == SearchOutcome::Interrupted) {
    // The rows read before the failure are shown, and the user is told the list is not whole.
    const UserMessage& cause = found->stopCause;
    return Worded(SearchStoppedMessage(
        cause.Empty() ? UserMessage(UserMessageKind::ServerStoppedAnswering) : cause,
        results_.size()));
  }
  return {};
}

const StudyInfo* StudySearch::Chosen() const {
  return ChosenResultAt(results_, StringGrid1->currentRow());
}

void StudySearch::Clear() {
  results_.clear();
  ResetGrid();
}

void StudySearch::ResetGrid() {
  StringGrid1->clearContents();
  StringGrid1->setRowCount(1);
}

void StudySearch::Fill() {
  ResetGrid();
  StringGrid1->setRowCount(static_cast<int>(results_.size()) + 1);
  for (size_t i = 0; i < results_.size(); ++i) {
    const StudyInfo& result = results_[i];
    auto text = [](const std::string& value) { return QString::fromStdString(value); };
    // Dates as the date fields show them.
    const QString cells[] = {text(result.patientName),      text(result.patientId),
                             text(result.patientSex),       WindowDate(result.patientBirthDate),
                             text(result.studyDescription), WindowDate(result.studyDate),
                             text(result.accessionNumber)};
    for (int column = 0; column < 7; ++column) {
      StringGrid1->setItem(static_cast<int>(i), column, new QTableWidgetItem(cells[column]));
    }
  }
  // A fresh grid selects its first row, so the first match feeds the next batch.
  StringGrid1->selectRow(0);
}
