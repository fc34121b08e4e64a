// Writes a settings file holding every key at its default value: the template the package
// installs for administrators who prepare a clinic's settings.
#include <cstdio>

#include "settings.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velloran-defaultsettings FILE\n");
    return 2;
  }
  std::remove(argv[1]);
  return SaveSettings(argv[1], SetupConfig{}) ? 0 : 1;
}
