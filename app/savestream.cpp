// "Save To Folder" one object at a time.
#include "savestream.h"

#include <unistd.h>

#include <filesystem>

#include "batch.h"
#include "log.h"

namespace fs = std::filesystem;

bool SaveItemsToFolder(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, UserMessage& message,
                       std::stop_token stop, BatchReport* report, const ItemProgress& progress) {
  message = {};
  BatchReport local;
  BatchReport& outcome = report != nullptr ? *report : local;
  outcome = BatchReport(items);
  if (folder.empty()) return false;
  const fs::path staging = fs::path(folder) / (".velloran-saving-" + std::to_string(::getpid()));
  std::error_code status;
  fs::create_directories(staging, status);
  UserMessage problems;
  if (status) {
    // Every write then fails, and each item is named as not written.
    const UserMessage problem(UserMessageKind::CannotWriteIntoFolder,
                              {UserMessage::Text(folder), UserMessage::Text(status.message())});
    problems.AddLine(problem);
    WriteLog("ERROR, SaveItemsToFolder, " + problem.English());
  }
  struct Staged {
    std::string name;
    std::string sopInstanceUid;  // for the report, once the file is in place
  };
  std::vector<Staged> staged;
  const StreamedBatch batch = ConvertItemsOneByOne(
      items,
      [&](DcmObj& object, size_t, std::string&) {
        const std::string name = object.GetString(0x0008, 0x0018) + ".dcm";
        if (SaveObjectFile(object, (staging / name).string())) {
          staged.push_back({name, object.GetString(0x0008, 0x0018)});
        } else {
          problems.AddLine(UserMessage(UserMessageKind::CannotWriteSeeLog,
                                       {UserMessage::Text((fs::path(folder) / name).string())}));
          outcome.ObjectDone(object, false);
        }
        // A file that cannot be written does not stop the others, as a whole batch saves.
        return true;
      },
      progress, stop, &outcome);
  // Every object that was made goes into place, whatever became of the other items.
  for (const Staged& entry : staged) {
    const fs::path target = fs::path(folder) / entry.name;
    fs::rename(staging / entry.name, target, status);
    if (status) {
      problems.AddLine(
          UserMessage(UserMessageKind::CannotWriteFile,
                      {UserMessage::Text(target.string()), UserMessage::Text(status.message())}));
    } else {
      written.push_back(target.string());
    }
    DcmObj done;
    done.AddString(0x0008, 0x0018, entry.sopInstanceUid);
    outcome.ObjectDone(done, !status);
  }
  fs::remove_all(staging, status);
  // The converters' own errors come first, as they wrote them; they name the file and the reason.
  message = UserMessage::Text(batch.message);
  message.AddLine(SaveOutcomeMessage(outcome, problems));
  return outcome.Complete();
}
