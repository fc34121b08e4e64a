// "Save To Folder" one object at a time.
#include "savestream.h"

#include <unistd.h>

#include <filesystem>

#include "batch.h"
#include "log.h"

namespace fs = std::filesystem;

bool SaveItemsToFolder(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, std::string& message,
                       std::vector<std::string>* skipped, const ItemProgress& progress) {
  message.clear();
  if (folder.empty()) return false;
  const fs::path staging = fs::path(folder) / (".velloran-saving-" + std::to_string(::getpid()));
  std::error_code status;
  fs::create_directories(staging, status);
  if (status) {
    message = "Cannot write into \"" + folder + "\": " + status.message();
    WriteLog("ERROR, SaveItemsToFolder, " + message);
    return false;
  }
  std::vector<std::string> problems;
  std::vector<std::string> staged;  // file names inside the staging folder
  const StreamedBatch batch = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t, std::string&) {
        const std::string name = object.GetString(0x0008, 0x0018) + ".dcm";
        if (SaveObjectFile(object, (staging / name).string())) {
          staged.push_back(name);
        } else {
          problems.push_back("Cannot write \"" + (fs::path(folder) / name).string() +
                             "\"; see the log for the reason");
        }
        // A file that cannot be written does not stop the others, as a whole batch saves.
        return true;
      },
      progress);
  if (skipped != nullptr) {
    for (size_t index : batch.skipped) skipped->push_back(items[index]);
  }
  if (batch.complete) {
    for (const std::string& name : staged) {
      const fs::path target = fs::path(folder) / name;
      fs::rename(staging / name, target, status);
      if (status) {
        problems.push_back("Cannot write \"" + target.string() + "\": " + status.message());
      } else {
        written.push_back(target.string());
      }
    }
  } else {
    problems.insert(problems.begin(), batch.message);
  }
  fs::remove_all(staging, status);
  for (const std::string& problem : problems) {
    message += (message.empty() ? "" : "\n") + problem;
  }
  return problems.empty();
}
