// velloran-cli find: "Search PACS" or "Search WL" from the form's filter fields, one row a match.
#include <cstdio>
#include <string>

#include "args.h"
#include "charset.h"
#include "conversioncontext.h"
#include "failurecause.h"
#include "netoptions.h"
#include "search.h"
#include "searchweb.h"
#include "uids.h"
#include "verbs.h"
#include "weboptions.h"

namespace {

const std::string kUsage =
    std::string(
        "usage: velloran-cli find --pacs|--worklist [--name N] [--id ID] [--accession A]\n"
        "         [--description D] [--from YYYYMMDD] [--to YYYYMMDD] [--modality M] [--json]\n"
        "         [network options]\n"
        "\n"
        "Asks the PACS for studies (study-root C-FIND) or the worklist server for scheduled\n"
        "procedures, with the query the window's \"Search PACS\" and \"Search WL\" buttons build:\n"
        "the name gets a trailing \"*\", the description one on each side; the PACS is asked for\n"
        "study dates from..to, the worklist for the \"to\" day. Dates default to today. The\n"
        "modality is one of CT MR CR US MG DX XA OT ES XC; anything else means all.\n"
        "Prints one line per match: name, ID, sex, birth date, study description, study date,\n"
        "accession number and Study Instance UID, separated by tabs, or with --json one JSON\n"
        "object per line (its dates YYYYMMDD, the lines' as the desktop shows them). Texts are\n"
        "taken and printed as UTF-8.\n"
        "Exits 1 when the server cannot be reached or the search ends early (the matches read\n"
        "until then are printed), 2 for wrong arguments.\n"
        "A DICOMweb PACS is searched by QIDO-RS with the same keys; the worklist stays on "
        "C-FIND.\n\n") +
    kNetworkOptionsUsage + kWebOptionsUsage;

bool IsDate(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// A cell for tab-separated output: control characters would break the row into pieces.
std::string Cell(const std::string& text) {
  std::string cell = text;
  for (char& c : cell) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return cell;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void PrintStudy(const StudyInfo& study, bool json) {
  // JSON is read by programs: its dates are YYYYMMDD, as the options take them; the lines are
  // read by people, in the desktop's format.
  const std::string birthDate =
      json ? study.patientBirthDate : DicomDateToDisplay(study.patientBirthDate);
  const std::string studyDate = json ? study.studyDate : DicomDateToDisplay(study.studyDate);
  if (json) {
    std::printf(
        "{\"name\":%s,\"id\":%s,\"sex\":%s,\"birthDate\":%s,\"studyDescription\":%s,"
        "\"studyDate\":%s,\"accessionNumber\":%s,\"studyInstanceUid\":%s}\n",
        JsonString(study.patientName).c_str(), JsonString(study.patientId).c_str(),
        JsonString(study.patientSex).c_str(), JsonString(birthDate).c_str(),
        JsonString(study.studyDescription).c_str(), JsonString(studyDate).c_str(),
        JsonString(study.accessionNumber).c_str(), JsonString(study.studyInstanceUid).c_str());
    return;
  }
  std::printf("%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", Cell(study.patientName).c_str(),
              Cell(study.patientId).c_str(), Cell(study.patientSex).c_str(),
              Cell(birthDate).c_str(), Cell(study.studyDescription).c_str(),
              Cell(studyDate).c_str(), Cell(study.accessionNumber).c_str(),
              Cell(study.studyInstanceUid).c_str());
}

// The fixed message of a failed search, and its cause.
void ReportSearchFailure(SearchOutcome outcome, const std::string& calledAet) {
  switch (outcome) {
    case SearchOutcome::Completed:
      return;
    case SearchOutcome::NotConnected:
      std::fprintf(stderr, "ERROR, couldn't connect to %s\n", calledAet.c_str());
      break;
    case SearchOutcome::RequestFailed:
      std::fprintf(stderr, "ERROR, the query could not be sent, please check Log file\n");
      break;
    case SearchOutcome::Interrupted:
      std::fprintf(stderr, "ERROR, the search ended early, please check Log file\n");
      break;
    case SearchOutcome::Cancelled:
      std::fprintf(stderr, "ERROR, the search was cancelled\n");
      break;
  }
  PrintFailureCause();
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli find: %s\n%s", problem.c_str(), kUsage.c_str());
  return 2;
}

int RunFind(const std::vector<std::string>& args) {
  const ParsedArgs parsed(
      args,
      WebValuedOptions(NetworkValuedOptions(
          {"name", "id", "accession", "description", "from", "to", "modality"})),
      WebFlags(NetworkFlags({"pacs", "worklist", "json"})));
  if (!parsed.ok()) return Usage(parsed.error());
  if (!parsed.Positional().empty()) return Usage("unexpected argument " + parsed.Positional()[0]);
  if (parsed.Has("pacs") == parsed.Has("worklist")) return Usage("give --pacs or --worklist");

  SearchForm form;
  form.patientName = TextToUtf8(parsed.ValueOr("name", ""));
  form.patientId = TextToUtf8(parsed.ValueOr("id", ""));
  form.accessionNumber = TextToUtf8(parsed.ValueOr("accession", ""));
  form.studyDescription = TextToUtf8(parsed.ValueOr("description", ""));
  form.fromDate = parsed.ValueOr("from", TodayText());
  form.toDate = parsed.ValueOr("to", TodayText());
  if (!IsDate(form.fromDate) || !IsDate(form.toDate)) {
    return Usage("--from and --to must be YYYYMMDD");
  }
  form.modality = ModalityFilter(parsed.ValueOr("modality", ""));

  SetupConfig settings;
  std::string error;
  if (!LoadNetworkSettings(parsed, settings, error)) return Usage(error);

  std::vector<StudyInfo> results;
  SearchOutcome outcome;
  std::string calledAet;
  if (parsed.Has("pacs")) {
    if (SearchHasNoFilters(form)) {
      std::fprintf(stderr, "WARNING: Have no filters, search can take very long\n");
    }
    if (WantsDicomWeb(parsed, settings)) {
      DicomWebServer web;
      if (!WebPacsFromOptions(parsed, settings, web, error)) return Usage(error);
      calledAet = ShownUrl(web.baseUrl);
      outcome = SearchPACSWeb(web, form, results);
    } else {
      const RemoteNode pacs = PacsFromOptions(parsed, settings);
      calledAet = pacs.calledAet;
      outcome = SearchPACS(pacs, form, results);
    }
  } else {
    const RemoteNode worklist = WorklistFromOptions(parsed, settings);
    calledAet = worklist.calledAet;
    outcome = SearchWorklist(worklist, form, results);
  }
  const bool json = parsed.Has("json");
  for (const StudyInfo& study : results) PrintStudy(study, json);
  std::fflush(stdout);
  if (outcome != SearchOutcome::Completed) ReportSearchFailure(outcome, calledAet);
  return outcome == SearchOutcome::Completed ? 0 : 1;
}

const VerbRegistrar kRegistrar({"find", "search the PACS or the worklist server", kUsage.c_str(),
                                RunFind});

}  // namespace
