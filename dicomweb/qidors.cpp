// Searching a DICOMweb server for studies: QIDO-RS (PS3.18 10.6), and the connection test.
#include "qidors.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "charset.h"
#include "dicomjson.h"
#include "log.h"
#include "query.h"
#include "webmessages.h"

namespace {

constexpr const char* kDicomJson = "application/dicom+json";

std::string TagKey(const DcmTag& tag) {
  char key[9];
  std::snprintf(key, sizeof key, "%04X%04X", tag.group, tag.element);
  return key;
}

// A matching value in the query: percent-encoded, except for the characters of DICOM matching
// ("*" and "?" wild cards, "^" between name components), which go as they are. They carry no
// meaning in a query string, and some servers (Orthanc 1.10 among them) do not decode the
// values they are given, so an encoded "*" would be matched as the three characters "%2A".
std::string QueryValue(const std::string& value) {
  std::string encoded;
  size_t start = 0;
  for (size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size() && value[i] != '*' && value[i] != '?' && value[i] != '^') continue;
    encoded += HttpSession::Escape(std::string_view(value).substr(start, i - start));
    if (i < value.size()) encoded += value[i];
    start = i + 1;
  }
  return encoded;
}

// True when the server's Warning header says that more matches exist than it sent (PS3.18 uses
// warning code 299 for that).
bool WarnsOfMore(const HttpResponse& response) {
  return response.warning.find("299") != std::string::npos;
}

std::string Failure(const std::string& problem) {
  WriteLog("ERROR, QidoRS, " + problem);
  return problem;
}

}  // namespace

std::string QidoStudyQuery(const StudyInfo& query, size_t limit, size_t offset) {
  std::unique_ptr<DcmObj> identifier = BuildStudyIdentifier(query);
  // The identifier holds its keys in the character set it declares; the URL wants UTF-8.
  DecodeDataSetToUtf8(*identifier);
  std::string matching;
  std::string included;
  for (size_t i = 0; i < identifier->Count(); ++i) {
    const DcmTag* tag = identifier->TagAt(i);
    if (tag == nullptr || tag->Is(0x0008, 0x0005) || tag->Is(0x0008, 0x0052)) continue;
    const std::string value = tag->GetString();
    if (value.empty()) {
      included += "&includefield=" + TagKey(*tag);
    } else {
      matching += TagKey(*tag) + "=" + QueryValue(value) + "&";
    }
  }
  return matching + "limit=" + std::to_string(limit) + "&offset=" + std::to_string(offset) +
         included;
}

bool StudiesFromJson(std::string_view text, std::vector<StudyInfo>& rows, std::string& error) {
  std::vector<std::unique_ptr<DcmObj>> dataSets;
  if (!DataSetsFromJson(text, dataSets, error)) return false;
  // Servers add attributes of their own to a study (its ID, counts); a row takes only those a
  // C-FIND asks for, so that both searches give the same rows.
  static const std::unique_ptr<DcmObj> keys = BuildStudyIdentifier(StudyInfo{});
  for (const std::unique_ptr<DcmObj>& dataSet : dataSets) {
    DcmObj asked;
    for (size_t i = 0; i < dataSet->Count(); ++i) {
      const DcmTag* tag = dataSet->TagAt(i);
      if (tag != nullptr && keys->FindTag(tag->group, tag->element) != nullptr) {
        asked.Append(tag->Clone());
      }
    }
    rows.push_back(StudyFromIdentifier(asked));
  }
  return true;
}

QidoResult QidoStudies(HttpSession& session, const StudyInfo& query,
                       std::vector<StudyInfo>& results, size_t pageSize, size_t mostRows) {
  QidoResult result;
  if (pageSize == 0) pageSize = kQidoPageSize;
  size_t offset = 0;
  size_t answerBytes = 0;
  const size_t firstRow = results.size();
  std::string previousFirst;
  for (;;) {
    const HttpResponse response =
        session.Get("/studies?" + QidoStudyQuery(query, pageSize, offset), kDicomJson);
    if (response.status == 0) {
      result.problem = Failure(response.failure);
      return result;
    }
    if (response.status == 204) {  // no (further) matches
      result.complete = true;
      return result;
    }
    if (response.status != 200) {
      result.problem = Failure(HttpStatusProblem(response, WebAction::Search, session.server()));
      return result;
    }
    std::vector<StudyInfo> page;
    std::string error;
    if (!StudiesFromJson(response.body, page, error)) {
      result.problem = Failure("The DICOMweb server's search answer could not be read: " + error);
      return result;
    }
    ++result.pagesRead;
    // A server that does not page sends its first rows again: they are not matches twice.
    if (offset > 0 && !page.empty() && page.front().studyInstanceUid == previousFirst) {
      result.complete = true;
      return result;
    }
    if (!page.empty()) previousFirst = page.front().studyInstanceUid;
    const size_t count = page.size();
    // A page shorter than asked for is the last, unless the server warns that it cut it; a
    // longer one means the server ignores the limit and sent everything.
    const bool last =
        count == 0 || count > pageSize || (count < pageSize && !WarnsOfMore(response));
    const size_t room = mostRows - std::min(mostRows, results.size() - firstRow);
    answerBytes += response.body.size();
    for (size_t i = 0; i < count && i < room; ++i) results.push_back(std::move(page[i]));
    if (count > room || (!last && (count == room || answerBytes >= kMostSearchBytes))) {
      result.moreMatches = true;
      result.problem = kMoreMatchesThanShown;
      WriteLog("WARNING, QidoStudies, the search stopped at " +
               std::to_string(results.size() - firstRow) + " rows: " + kMoreMatchesThanShown);
      return result;
    }
    if (last) {
      result.complete = true;
      return result;
    }
    offset += count;
  }
}

bool TestDicomWeb(const DicomWebServer& server, std::string& message) {
  message = DicomWebServerProblem(server);
  if (!message.empty()) return false;
  HttpSession session(server);
  const HttpResponse response = session.Get("/studies?limit=1", kDicomJson);
  std::vector<StudyInfo> rows;
  std::string error;
  if (response.status == 0) {
    message = Failure(response.failure);
    return false;
  }
  if (response.status != 200 && response.status != 204) {
    message = Failure(HttpStatusProblem(response, WebAction::Search, server));
    return false;
  }
  if (response.status == 200 && !StudiesFromJson(response.body, rows, error)) {
    message = Failure("The server at " + ShownUrl(server.baseUrl) +
                      " answers, but not as a DICOMweb server: " + error + " (HTTP 200)");
    return false;
  }
  message = ShownUrl(server.baseUrl) + " is up and running! (HTTP " +
            std::to_string(response.status) +
            (response.server.empty() ? std::string() : ", server " + response.server) + ")";
  if (SendsPasswordInTheClear(server)) message += "\nWarning: " + PlainLoginWarning(server) + ".";
  return true;
}
