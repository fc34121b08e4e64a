// The document converter: DOC, DOCX, RTF, TXT and HTML files into Basic Text SR reports.
#include "converttext.h"

#include <memory>

#include "sourcefile.h"
#include "srtext.h"
#include "textreaders.h"

bool ReadDocumentLines(const std::string& path, TextLines& lines, std::string& error) {
  lines.clear();
  const std::string extension = UpperExtension(path);
  if (extension == ".DOC") {
    TextLines pieces;
    if (!ReadDocText(path, pieces, error)) return false;
    lines = SplitLines(ReplaceCrCrByCrLf(JoinLines(pieces)));
    return true;
  }
  if (extension == ".DOCX" || extension == ".RTF") {
    std::string text;
    const bool read =
        extension == ".DOCX" ? ReadDocxText(path, text, error) : ReadRtfText(path, text, error);
    if (!read) return false;
    lines = SplitLines(text);
    return true;
  }
  if (extension == ".TXT") return ReadTextFileLines(path, lines, error);
  if (extension == ".HTML") {
    TextLines fileLines;
    if (!ReadTextFileLines(path, fileLines, error)) return false;
    lines = SplitLines(StripHtmlTags(fileLines));
    return true;
  }
  error = "ERROR, extension not supported, " + extension;
  return false;
}

bool ConvertText(const std::string& path, DataSetList& list, std::string& error) {
  error.clear();
  auto report = std::make_unique<DcmSRObj>();
  const ObjectNumbers numbers = StartObject(ObjectKind::TextReport);
  TextLines lines;
  if (!ReadDocumentLines(path, lines, error)) return false;
  if (lines.empty()) return false;
  const std::string text = JoinLines(lines);
  // Text Value has a 32-bit length, and 0xFFFFFFFF would mean "undefined".
  if (text.size() > 0xFFFFFFFEull) {
    error = "Cannot convert \"" + path + "\": its text is too long for one report";
    return false;
  }
  report->BuildReport(CurrentStudy, "Observer", text, numbers.sopInstanceUid);
  report->SetTransferSyntax(kExplicitVRLittleEndian);
  list.push_back(std::move(report));
  return true;
}
