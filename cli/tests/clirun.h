// Running velloran-cli from the verb tests, and the smallest PDF they feed it.
#pragma once

#include <string>
#include <vector>

#include "testsupport.h"

namespace clitest {

// The smallest PDF document a reader accepts: one empty page.
inline constexpr const char* kPdf =
    "%PDF-1.4\n1 0 obj<</Type/Catalog/Pages 2 0 R>>endobj\n"
    "2 0 obj<</Type/Pages/Kids[3 0 R]/Count 1>>endobj\n"
    "3 0 obj<</Type/Page/Parent 2 0 R/MediaBox[0 0 200 200]>>endobj\n"
    "trailer<</Root 1 0 R>>\n%%EOF\n";

// velloran-cli VERB ARGS..., with its exit code and output.
inline testsupport::CommandResult Cli(const std::string& verb,
                                      const std::vector<std::string>& args) {
  std::vector<std::string> argv = {VELLORAN_CLI, verb};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::RunCommand(argv);
}

}  // namespace clitest
