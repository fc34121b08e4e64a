// velloran-cli transcode: a Part 10 file converted to another transfer syntax and written again.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "args.h"
#include "dicomfile.h"
#include "log.h"
#include "transfer_syntax.h"
#include "verbs.h"

namespace {

constexpr const char* kUsage =
    "usage: velloran-cli transcode --ts UID IN OUT\n"
    "\n"
    "Reads the DICOM Part 10 file IN, converts its pixel data to the transfer syntax UID, as a\n"
    "send does before storing an image, and writes the result as the Part 10 file OUT.\n"
    "Targets: 1.2.840.10008.1.2 (implicit VR little endian), 1.2.840.10008.1.2.1 (explicit\n"
    "little endian), 1.2.840.10008.1.2.2 (explicit big endian), 1.2.840.10008.1.2.4.70 and\n"
    ".4.57 (lossless JPEG), .4.50 (baseline JPEG), .4.51 (12-bit JPEG), .4.90 (lossless JPEG\n"
    "2000) and .4.91 (JPEG 2000). RLE sources are decoded; RLE is not a target.\n"
    "Exits 1, writing nothing, when the file cannot be read or converted (the reason is printed\n"
    "on stderr) or OUT cannot be written; exits 2 for wrong arguments.\n";

// The log goes to a private file for the run and is printed on stderr when the run ends, so
// the user sees the same lines an operator would find in the log.
class LogToStderr {
 public:
  LogToStderr() {
    char name[] = "/tmp/velloran-transcode-XXXXXX";
    const int descriptor = mkstemp(name);
    if (descriptor < 0) return;
    close(descriptor);
    path_ = name;
    SetLogTarget(path_, "", "");
  }
  ~LogToStderr() {
    if (path_.empty()) return;
    ReleaseLogTarget();
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    std::fputs(text.str().c_str(), stderr);
    std::error_code error;
    std::filesystem::remove(path_, error);
  }
  LogToStderr(const LogToStderr&) = delete;
  LogToStderr& operator=(const LogToStderr&) = delete;

 private:
  std::string path_;
};

std::string FirstOf(const DicomFile& file, uint16_t element, uint16_t metaElement) {
  std::string value = file.dataSet.GetString(0x0008, element);
  return value.empty() ? file.meta.GetString(0x0002, metaElement) : value;
}

int RunTranscode(const std::vector<std::string>& args) {
  ParsedArgs parsed(args, {"ts"}, {});
  if (!parsed.ok() || !parsed.Has("ts") || parsed.Positional().size() != 2) {
    std::fprintf(stderr, "velloran-cli transcode: %s\n%s",
                 parsed.ok() ? "expected --ts UID IN OUT" : parsed.error().c_str(), kUsage);
    return 2;
  }
  const std::string target = *parsed.Value("ts");
  const std::string& in = parsed.Positional()[0];
  const std::string& out = parsed.Positional()[1];
  DicomFile file;
  std::string error;
  if (!ReadDicomFile(in, file, error)) {
    std::fprintf(stderr, "velloran-cli transcode: %s: %s\n", in.c_str(), error.c_str());
    return 1;
  }
  LogToStderr log;
  if (!ConvertTransferSyntax(file.dataSet, target)) {
    std::fprintf(stderr, "velloran-cli transcode: %s cannot be converted to %s\n", in.c_str(),
                 target.c_str());
    return 1;
  }
  if (!file.dataSet.SaveToFile(out, FirstOf(file, 0x0016, 0x0002), FirstOf(file, 0x0018, 0x0003))) {
    std::fprintf(stderr, "velloran-cli transcode: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}

const VerbRegistrar kRegistrar({"transcode", "convert a DICOM file to another transfer syntax",
                                kUsage, RunTranscode});

}  // namespace
