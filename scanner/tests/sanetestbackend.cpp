// The test backend's private configuration.
#include "sanetestbackend.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "testsupport.h"

namespace {

// The folder lives as long as the test program.
const std::filesystem::path& ConfigFolder() {
  static const testsupport::TempDir folder;
  static const bool named = setenv("SANE_CONFIG_DIR", folder.path().c_str(), 1) == 0;
  // Keep the backend mapped after sane_exit unloads it, so that what it leaks is reported with
  // its name (and suppressed by name) instead of as an unknown module.
  static void* const backend = dlopen(SANE_TEST_BACKEND_PATH, RTLD_NOW | RTLD_NODELETE);
  (void)named;
  (void)backend;
  return folder.path();
}

}  // namespace

SaneTestBackend::SaneTestBackend(Scanners scanners, const std::string& extraSettings) {
  const std::filesystem::path& folder = ConfigFolder();
  std::ofstream(folder / "dll.conf") << (scanners == Scanners::TestBackend ? "test\n" : "");
  // Two devices scanning an 80 x 100 mm area of the colour test pattern, 8 bits per sample.
  std::ofstream(folder / "test.conf") << "number_of_devices 2\n"
                                         "mode Gray\n"
                                         "depth 8\n"
                                         "resolution 50.0\n"
                                         "test-picture \"Color pattern\"\n"
                                         "tl_x 0.0\n"
                                         "tl_y 0.0\n"
                                         "br_x 80.0\n"
                                         "br_y 100.0\n"
                                      << extraSettings << "\n";
}
