// Turns captured XPS and PostScript jobs into PDF files with the system's converters.
#pragma once

#include <filesystem>
#include <string>

// Both converters write a PDF readable by the user alone (mode 0600), as every file of the work
// folder, and stop at once (the converter's whole process group ended, no PDF kept) when
// `cancelHandle` (a descriptor, -1 for none) becomes readable.

// The PDF printer of the capture: prints the raw XPS job in `rawJob` into `outputFile` (through
// xpstopdf). False with the cause when no PDF was written.
bool PrintRawToPrinter(const std::filesystem::path& rawJob, const std::filesystem::path& outputFile,
                       std::string& cause, int cancelHandle = -1);

// Converts a PostScript job (also one behind a printer-language switch) into `outputFile`
// (through Ghostscript's ps2pdf). False with the cause when no PDF was written.
bool ConvertPostScriptToPdf(const std::filesystem::path& postScript,
                            const std::filesystem::path& outputFile, std::string& cause,
                            int cancelHandle = -1);
