// Small Word and DOCX files made by the tests themselves, with libgsf's and libzip's writers.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fixtures {

// One piece of a Word document's text: 8-bit (compressed, Windows-1252) or UTF-16LE.
struct DocPiece {
  std::string text;  // Windows-1252 for compressed pieces, UTF-8 for UTF-16 pieces
  bool compressed = true;
};

// The two streams of a minimal Word 97 document: a WordDocument stream with a FIB (wIdent,
// nFib 0xC1, the table-stream flag, fcClx/lcbClx) followed by the pieces' text, and a table stream
// holding the Clx (optionally preceded by property-modifier entries) at offset 0.
struct DocStreams {
  std::string wordDocument;
  std::string table;
};
DocStreams MakeDocStreams(const std::vector<DocPiece>& pieces, bool table1Flag = true,
                          int propertyModifiers = 0);

// Writes an OLE compound file holding the named streams.
void WriteCompoundFile(const std::string& path,
                       const std::vector<std::pair<std::string, std::string>>& streams);

// Writes a ZIP package holding the named entries, deflated.
void WriteZip(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& entries);

// A WordprocessingML document.xml whose body holds one paragraph per entry, each paragraph's runs
// given as the inner vector (texts escaped for XML by the caller).
std::string MakeDocumentXml(const std::vector<std::vector<std::string>>& paragraphs);

}  // namespace fixtures
