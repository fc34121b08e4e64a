// The document converter: DOC, DOCX, RTF, TXT and HTML files into Basic Text SR reports.
#include "converttext.h"

#include <memory>

#include "sourcefile.h"
#include "srtext.h"
#include "textreaders.h"

bool ReadDocumentText(const std::string& path, std::string& text, std::string& error) {
  text.clear();
  const std::string extension = UpperExtension(path);
  std::string raw;
  if (extension == ".DOC") {
    TextLines pieces;
    if (!ReadDocText(path, pieces, error)) return false;
    raw = ReplaceCrCrByCrLf(JoinLines(pieces));
  } else if (extension == ".DOCX" || extension == ".RTF") {
    const bool read =
        extension == ".DOCX" ? ReadDocxText(path, raw, error) : ReadRtfText(path, raw, error);
    if (!read) return false;
  } else if (extension == ".TXT" || extension == ".HTML") {
    const TextFileKind kind = extension == ".HTML" ? TextFileKind::Html : TextFileKind::Plain;
    if (!ReadTextFile(path, raw, error, kind)) return false;
    if (extension == ".HTML") raw = StripHtmlTags(std::string_view(raw));
  } else {
    error = "ERROR, extension not supported, " + extension;
    return false;
  }
  text = NormalizeLineBreaks(raw);
  return true;
}

bool ReadDocumentLines(const std::string& path, TextLines& lines, std::string& error) {
  lines.clear();
  std::string text;
  if (!ReadDocumentText(path, text, error)) return false;
  lines = SplitLines(text);
  return true;
}

bool ConvertText(const std::string& path, DataSetList& list, std::string& error) {
  error.clear();
  auto report = std::make_unique<DcmSRObj>();
  const ObjectNumbers numbers = StartObject(ObjectKind::TextReport);
  std::string text;
  if (!ReadDocumentText(path, text, error)) return false;
  if (text.empty()) return false;
  // Text Value has a 32-bit length, and 0xFFFFFFFF would mean "undefined".
  if (text.size() > 0xFFFFFFFEull) {
    error = "Cannot convert \"" + path + "\": its text is too long for one report";
    return false;
  }
  report->BuildReport(CurrentStudy, "Observer", text, numbers.sopInstanceUid);
  report->SetTransferSyntax(kExplicitVRLittleEndian);
  AppendObject(list, std::move(report));
  return true;
}
