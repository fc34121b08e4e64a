// Deleting work files once their objects have left the outbox delivered.
#include "outboxworkfiles.h"

#include <set>
#include <string>

#include "batchreport.h"
#include "log.h"

size_t RemoveDeliveredWorkFiles(const Outbox& outbox, const DeliveryReport& report,
                                const std::filesystem::path& workFolder) {
  if (workFolder.empty()) return 0;
  std::set<std::string> delivered;
  for (const DeliveredObject& object : report.objects) {
    if (object.settled == OutboxState::Gone && !object.entry.source.empty()) {
      delivered.insert(object.entry.source);
    }
  }
  if (delivered.empty()) return 0;
  // A file that gave several objects stays while one of them is still on its way.
  for (const OutboxEntry& entry : outbox.Entries()) delivered.erase(entry.source);
  size_t removed = 0;
  for (const std::string& source : delivered) {
    if (!IsInFolder(source, workFolder)) continue;
    std::error_code error;
    if (std::filesystem::remove(source, error)) {
      ++removed;
      WriteLog("INFO, Outbox, delivered, work file deleted: " + source);
    }
  }
  return removed;
}
