// PDF converters run as helper programs with a time limit; a PDF counts only when it was written.
#include "pdfconversion.h"

#include <chrono>
#include <system_error>

#include "appfolders.h"
#include "childprogram.h"

namespace {

// A large print job takes Ghostscript some seconds; a converter still busy after this is stuck.
constexpr std::chrono::minutes kConversionLimit{2};

bool RunConverter(const std::string& program, const std::filesystem::path& input,
                  const std::filesystem::path& outputFile, std::string& cause, int cancelHandle) {
  std::error_code ignored;
  std::filesystem::remove(outputFile, ignored);
  const ProgramResult result =
      RunProgram({program, input.string(), outputFile.string()}, kConversionLimit, cancelHandle);
  std::error_code error;
  const auto size = std::filesystem::file_size(outputFile, error);
  if (result.Succeeded() && !error && size > 0) {
    // The converter creates its output with the umask; in the private work folder it is closed
    // like every other captured file.
    std::filesystem::permissions(outputFile, std::filesystem::perms(kPrivateFileMode), error);
    return true;
  }
  cause = program + " " + (result.Succeeded() ? "wrote no PDF" : result.Cause());
  std::filesystem::remove(outputFile, ignored);
  return false;
}

}  // namespace

bool PrintRawToPrinter(const std::filesystem::path& rawJob, const std::filesystem::path& outputFile,
                       std::string& cause, int cancelHandle) {
  return RunConverter("xpstopdf", rawJob, outputFile, cause, cancelHandle);
}

bool ConvertPostScriptToPdf(const std::filesystem::path& postScript,
                            const std::filesystem::path& outputFile, std::string& cause,
                            int cancelHandle) {
  return RunConverter("ps2pdf", postScript, outputFile, cause, cancelHandle);
}
