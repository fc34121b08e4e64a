// Writes a settings file holding every key at its default value: the template the package
// installs for administrators who prepare a clinic's settings.
#include <cstdio>
#include <string>

#include "settings.h"

namespace {

constexpr const char* kUsage =
    "usage: velloran-defaultsettings FILE\n"
    "Writes FILE anew as a settings file holding every key at its default value.\n";

}  // namespace

int main(int argc, char** argv) {
  const std::string file = argc == 2 ? argv[1] : "";
  if (file == "--help" || file == "-h") {
    std::printf("%s", kUsage);
    return 0;
  }
  // An option is never taken for a file name: "-x" would be written, then deleted, by accident.
  if (argc != 2 || file.empty() || file[0] == '-') {
    std::fprintf(stderr, "%s", kUsage);
    return 2;
  }
  std::remove(file.c_str());
  return SaveSettings(file, SetupConfig{}) ? 0 : 1;
}
