// A private SANE configuration offering only the virtual scanners of SANE's `test` backend.
#pragma once

#include <string>

// Writes dll.conf (listing `test`, or nothing for a machine without scanners) and test.conf into
// the test program's private SANE configuration folder, which SANE_CONFIG_DIR names. SANE reads
// the files at every sane_init but remembers the folder for the whole process, so all tests of
// a program share one folder and each backend object rewrites its files. Create it before SANE
// is initialised.
class SaneTestBackend {
 public:
  enum class Scanners { TestBackend, None };
  // `extraSettings` are further test.conf lines, e.g. "test-picture \"Grid\"".
  explicit SaneTestBackend(Scanners scanners = Scanners::TestBackend,
                           const std::string& extraSettings = "");
};
