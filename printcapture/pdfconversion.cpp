// PDF converters run as helper programs with a time limit; a PDF counts only when it was written.
#include "pdfconversion.h"

#include <chrono>
#include <system_error>

#include "childprogram.h"

namespace {

// A large print job takes Ghostscript some seconds; a converter still busy after this is stuck.
constexpr std::chrono::minutes kConversionLimit{2};

bool RunConverter(const std::string& program, const std::filesystem::path& input,
                  const std::filesystem::path& outputFile, std::string& cause) {
  std::error_code ignored;
  std::filesystem::remove(outputFile, ignored);
  const ProgramResult result =
      RunProgram({program, input.string(), outputFile.string()}, kConversionLimit);
  std::error_code error;
  const auto size = std::filesystem::file_size(outputFile, error);
  if (result.Succeeded() && !error && size > 0) return true;
  cause = program + " " + (result.Succeeded() ? "wrote no PDF" : result.Cause());
  std::filesystem::remove(outputFile, ignored);
  return false;
}

}  // namespace

bool PrintRawToPrinter(const std::filesystem::path& rawJob, const std::filesystem::path& outputFile,
                       std::string& cause) {
  return RunConverter("xpstopdf", rawJob, outputFile, cause);
}

bool ConvertPostScriptToPdf(const std::filesystem::path& postScript,
                            const std::filesystem::path& outputFile, std::string& cause) {
  return RunConverter("ps2pdf", postScript, outputFile, cause);
}
