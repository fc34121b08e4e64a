// The searches of the PACS and of the worklist, and the grid of the studies they found: one row a
// result and an empty row below them, which chooses the typed fields instead of a result.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "search.h"
#include "settings.h"
#include "studyinfo.h"

class IniFile;
class QTableWidget;
class QWidget;

class StudySearch {
  Q_DECLARE_TR_FUNCTIONS(StudySearch)

 public:
  // Makes the grid in `parent`, empty but for the row below the results.
  explicit StudySearch(QWidget* parent);

  // The headers from the ini's caption section (or the window's own), at the designed widths
  // or wider where the desktop's font needs room for a header.
  void SetHeaders(const IniFile& file, const char* captionSection);

  // A search of the settings' PACS (DICOM or DICOMweb) or of their worklist. It waits beside the
  // event loop until it ends or Stop() is called, keeps what it found (the rows read before a
  // failure too) and returns what the user is told: empty when it found what there is or was
  // stopped by the user.
  QString SearchPacs(const SearchForm& form, const SetupConfig& settings);
  QString SearchWorklist(const SearchForm& form, const SetupConfig& settings);
  // Stops the search being waited for; its C-FIND is cancelled on the wire.
  void Stop() { stop_.request_stop(); }

  const std::vector<StudyInfo>& Results() const { return results_; }
  // The result the grid's current row chooses: null without results and while the empty row
  // below them is chosen.
  const StudyInfo* Chosen() const;
  // No results, and the grid with only its empty row.
  void Clear();
  // Shows the results in the grid with their first row chosen.
  void Fill();

  QTableWidget* StringGrid1;

 private:
  using Search =
      std::function<SearchOutcome(std::vector<StudyInfo>&, UserMessage&, std::stop_token)>;
  QString Run(Search search, const std::string& calledAet);
  void ResetGrid();

  std::vector<StudyInfo> results_;
  // Stops the search the window waits for; a new one for each search.
  std::stop_source stop_;
};
