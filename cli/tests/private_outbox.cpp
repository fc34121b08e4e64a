// Every test process gets a data folder of its own, so the objects one test leaves in its outbox
// (velloran-cli keeps them in $XDG_DATA_HOME/velloran/outbox) never reach another test's peer, nor
// the outbox of the user running the tests.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct PrivateDataFolder {
  PrivateDataFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "velloran-data-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      folder = pattern;
      ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    }
  }
  ~PrivateDataFolder() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
  std::string folder;
};

const PrivateDataFolder kPrivateDataFolder;

}  // namespace
