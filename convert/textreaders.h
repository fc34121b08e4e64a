// The five document readers: DOC, DOCX, RTF, plain text and HTML, each giving UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "textlines.h"

// Every reader that takes a path returns true with what the document holds (possibly nothing), or
// false with a message for the user that names the file and says what is wrong with it. A reader
// that fails delivers no partial text. The functions on bytes in memory are the readers' cores;
// they report the problem without a file name.

// A Word 97 or later binary document: the text of every piece of its piece table, one line per
// piece, exactly as stored (Word's own paragraph marks and field characters included). UTF-16
// pieces are widened; 8-bit pieces are read in the ANSI code page of the document's language.
bool ReadDocText(const std::string& path, TextLines& lines, std::string& error);
// The same from the bytes of the "WordDocument" stream and of the table stream.
bool ReadDocPieces(std::string_view wordDocument, std::string_view tableStream, TextLines& lines,
                   std::string& problem);
// The 8-bit code page of a Word document's compressed pieces, from the language its FIB names.
int DocCodePage(std::string_view wordDocument);
// Which table stream a FIB names, "0Table" or "1Table"; empty when the FIB is too short to say.
std::string_view DocTableStreamName(std::string_view wordDocument);

// An Office Open XML word-processing package: the text of "word/document.xml".
bool ReadDocxText(const std::string& path, std::string& text, std::string& error);
// The same from the bytes of a whole package in memory.
bool DocxPackageText(std::string_view package, std::string& text, std::string& problem);
// The text of a WordprocessingML document: every paragraph ("w:p") starts with CR LF and every
// text run ("w:t") adds its characters. The encoding comes from the byte-order mark and the XML
// declaration.
bool XmlDocumentText(std::string_view xml, std::string& text, std::string& problem);

// A rich text document: one line per paragraph, formatting and non-text destinations dropped.
bool ReadRtfText(const std::string& path, std::string& text, std::string& error);
bool RtfToPlainText(std::string_view rtf, std::string& text, std::string& problem);

// A plain text file (also the first step for HTML), to UTF-8: a UTF-8, UTF-16 LE or UTF-16 BE
// byte-order mark selects that encoding; an HTML file's charset declaration comes next; otherwise
// the bytes are UTF-8 when they are well-formed UTF-8 and Windows-1252 when not. Lines as
// SplitLines makes them.
enum class TextFileKind { Plain, Html };
bool ReadTextFileLines(const std::string& path, TextLines& lines, std::string& error,
                       TextFileKind kind = TextFileKind::Plain);
// The same as one text, its line breaks as they are in the file.
bool ReadTextFile(const std::string& path, std::string& text, std::string& error,
                  TextFileKind kind = TextFileKind::Plain);
bool DecodeTextBytes(std::string_view bytes, std::string& text, std::string& problem,
                     TextFileKind kind = TextFileKind::Plain);
// The lower-cased charset an HTML file declares in its first 1024 bytes (a meta element's
// charset, or an XML declaration's encoding); empty when it declares none.
std::string HtmlDeclaredCharset(std::string_view bytes);

// The text of an HTML file whose lines are given: each line trimmed, everything from "<" to ">"
// dropped (a tag may span lines), and every non-empty result line followed by CR LF. Character
// references stay as they are.
std::string StripHtmlTags(const TextLines& lines);
// The same for the whole text of the file, split into lines as SplitLines would.
std::string StripHtmlTags(std::string_view text);
