// The document converter: DOC, DOCX, RTF, TXT and HTML files into Basic Text SR reports.
#pragma once

#include <string>

#include "conversioncontext.h"
#include "textlines.h"

// Converts the document at `path` into one Basic Text SR of CurrentStudy and appends it to `list`.
// The report's number is taken from InstanceCounter before the file is looked at, so every file
// handed to this converter consumes one. Returns false without appending when:
//  - the extension is not .DOC, .DOCX, .RTF, .TXT or .HTML ("ERROR, extension not supported, "
//    and the extension in `error`);
//  - the document cannot be read (a message naming the file in `error`);
//  - the document holds no text at all (`error` stays empty: there is nothing to report).
bool ConvertText(const std::string& path, DataSetList& list, std::string& error);

// The lines of a supported document, as they go into the report. False with `error` set for an
// unsupported extension or an unreadable file.
bool ReadDocumentLines(const std::string& path, TextLines& lines, std::string& error);
// The same lines as one text, each followed by CR LF (empty when there are none). Its memory
// follows the document's size, not its number of lines.
bool ReadDocumentText(const std::string& path, std::string& text, std::string& error);
