// The searches and the grid of what they found.
#include "studysearch.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "batchpatient.h"
#include "guiwork.h"
#include "headerwidths.h"
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

// Fits the columns again whenever the grid's font or style may have changed: the platform's theme
// settles them only when the window is shown.
class FitAgain final : public QObject {
 public:
  FitAgain(QObject* grid, std::function<void()> fit) : QObject(grid), fit_(std::move(fit)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type == QEvent::Show || type == QEvent::FontChange || type == QEvent::StyleChange) fit_();
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> fit_;
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
  StringGrid1->installEventFilter(new FitAgain(StringGrid1, [this] { FitColumns(); }));
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
  FitColumns();
}

void StudySearch::FitColumns() {
  // The designed widths, or the header's own where its language or the desktop's font needs more.
  for (size_t column = 0; column < std::size(kGridColumns); ++column) {
    StringGrid1->setColumnWidth(static_cast<int>(column), kGridColumns[column].width);
  }
  WidenColumnsToHeaders(*StringGrid1);
  // The date columns hold a whole date as the window writes it, between the margins a view's
  // cell keeps on each side and the grid's line.
  const int cellMargin = StringGrid1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1;
  const int dateWidth =
      StringGrid1->fontMetrics().horizontalAdvance(WindowDate("20001228")) + 2 * cellMargin + 2;
  for (int column : {3, 5}) {
    StringGrid1->setColumnWidth(column, std::max(StringGrid1->columnWidth(column), dateWidth));
  }
  // The stretched columns share what the others leave: the grid is never so narrow that one of
  // them cannot show its header (while no vertical scroll bar takes its part).
  const QHeaderView& header = *StringGrid1->horizontalHeader();
  int fixed = 0;
  int stretched = 0;
  int widestStretched = 0;
  for (int column = 0; column < header.count(); ++column) {
    if (header.sectionResizeMode(column) == QHeaderView::Stretch) {
      ++stretched;
      widestStretched = std::max(widestStretched, HeaderTextWidth(header, column));
    } else {
      fixed += StringGrid1->columnWidth(column);
    }
  }
  StringGrid1->setMinimumWidth(fixed + stretched * widestStretched + 2 * StringGrid1->frameWidth());
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
