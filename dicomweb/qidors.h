// Searching a DICOMweb server for studies: QIDO-RS (PS3.18 10.6), and the connection test.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "dicomwebserver.h"
#include "httpsession.h"
#include "studyinfo.h"

// Rows asked for per page.
inline constexpr size_t kQidoPageSize = 100;
// A search stops after this many rows, or this many bytes of answers, and says there are more:
// a grid of thousands helps nobody, and a server must not fill the memory page after page.
inline constexpr size_t kMostSearchRows = 1000;
inline constexpr size_t kMostSearchBytes = 16u << 20;
inline constexpr const char* kMoreMatchesThanShown = "more matches than shown";

// The query string (without "?") of a study search with the keys of the study-root C-FIND that
// `query` gives: each key holding a value is a matching parameter, each empty one an
// includefield, so the same rows come back with the same attributes; limit and offset page it.
// Values are percent-encoded but for the wild cards "*" and "?" and the name separator "^".
std::string QidoStudyQuery(const StudyInfo& query, size_t limit, size_t offset);

// The rows of one answer, each filled as a C-FIND response identifier fills one (the same fields,
// the same cuts of over-long values with their warning lines) from the attributes a study-root
// C-FIND asks for; others a server adds are left out. An empty answer has no rows.
// False, with `error`, when the answer is not a JSON array of data sets.
bool StudiesFromJson(std::string_view text, std::vector<StudyInfo>& rows, std::string& error);

// What a search came to. Rows read before a failure stay in the results.
struct QidoResult {
  bool complete = false;  // every page was read
  size_t pagesRead = 0;   // answers that arrived and were read
  std::string problem;    // when not complete: why, in plain words (also logged)
  // Not complete because the search stopped at its bound of rows or bytes; `problem` is
  // kMoreMatchesThanShown.
  bool moreMatches = false;
};

// GET {baseUrl}/studies page by page until a page comes back short (and the server does not warn
// that more remain), appending one row per match to `results`. A server that ignores the offset
// and sends its first page again ends the search without the repeated rows. The search stops
// with moreMatches once `mostRows` rows (or kMostSearchBytes of answers) are read while the
// server has more.
QidoResult QidoStudies(HttpSession& session, const StudyInfo& query,
                       std::vector<StudyInfo>& results, size_t pageSize = kQidoPageSize,
                       size_t mostRows = kMostSearchRows);

// The settings dialog's "Test": a study search with limit=1. `message` says in plain words what
// the server answered: its HTTP status and, when it names itself, its name; or what went wrong.
bool TestDicomWeb(const DicomWebServer& server, std::string& message);
