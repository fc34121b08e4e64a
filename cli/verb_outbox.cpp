// velloran-cli outbox: what waits for the PACS, retrying it, and taking objects out.
#include <cstdio>
#include <filesystem>
#include <string>

#include "appfolders.h"
#include "args.h"
#include "commitoptions.h"
#include "failurecause.h"
#include "netoptions.h"
#include "outboxoptions.h"
#include "outboxworkfiles.h"
#include "verbs.h"
#include "weboptions.h"

namespace {

const std::string kUsage =
    std::string(
        "usage: velloran-cli outbox list [--outbox DIR]\n"
        "       velloran-cli outbox retry [--to-current] [UID...] [--outbox DIR] [network "
        "options]\n"
        "       velloran-cli outbox remove UID... [--outbox DIR]\n"
        "\n"
        "The outbox holds the objects Send has made until the PACS has stored them. Each object\n"
        "goes to the PACS it was queued for, and to no other.\n"
        "list prints one line per object, tab-separated: state (waiting, failed, or stored:\n"
        "stored on the PACS, its storage commitment awaited), attempts, SOP Instance UID, SOP\n"
        "Class UID, batch, the cause of the last attempt, the file it was made from, and the\n"
        "PACS it goes to (\"RESEARCH at 10.0.0.9:104\").\n"
        "retry makes the failed objects with these UIDs (all failed ones without a UID) wait\n"
        "again and delivers everything waiting now, each object to its own PACS; it exits 0 when\n"
        "all went, 1 when a PACS refused an object (it stays as failed), 3 when objects still\n"
        "wait (a PACS did not answer, or an object waits for another PACS than the one given).\n"
        "--to-current sends the objects waiting (or failed) for another PACS to the one the\n"
        "options and settings name instead (only those with these UIDs, when given). An object\n"
        "queued with storage commitment (--commit, or storageCommitment=1) leaves only once its\n"
        "PACS has committed it; retry asks for that again (exit 3 while reports are awaited).\n"
        "remove deletes the objects with these UIDs from the outbox for good; it exits\n"
        "1 when none of them was there. Exits 2 for wrong arguments.\n\n") +
    kOutboxOptionsUsage + kCommitOptionsUsage + kNetworkOptionsUsage + kWebOptionsUsage;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli outbox: %s\n%s", problem.c_str(), kUsage.c_str());
  return 2;
}

int List(Outbox& outbox) {
  for (const OutboxEntry& entry : outbox.Entries()) {
    const std::string file = std::filesystem::path(entry.source).filename().string();
    std::printf("%s\t%d\t%s\t%s\t%s\t%s\t%s\t%s\n", OutboxStateName(entry.state), entry.attempts,
                entry.sopInstanceUid.c_str(), entry.sopClassUid.c_str(), entry.batch.c_str(),
                entry.cause.c_str(), file.c_str(), DestinationText(entry.destination).c_str());
  }
  return 0;
}

int Retry(Outbox& outbox, const ParsedArgs& parsed, const std::vector<std::string>& uids) {
  SetupConfig settings;
  std::string error;
  if (!LoadNetworkSettings(parsed, settings, error)) return Usage(error);
  setupcfg = settings;
  PacsTarget target;
  if (!PacsTargetFromOptions(parsed, settings, target, error)) return Usage(error);
  if (parsed.Has("to-current")) {
    const size_t moved = ReaddressToCurrent(outbox, target, uids);
    std::printf("%zu objects waiting for another PACS now go to %s\n", moved,
                DestinationText(DestinationOf(target)).c_str());
  } else {
    const size_t again = outbox.Retry(uids);
    if (again > 0) std::printf("%zu failed objects wait again\n", again);
  }
  ProgressLine progress;
  const DeliveryReport report =
      DeliverOutbox(outbox, target, [&](const DeliveredObject& object, size_t index, size_t total) {
        progress.Show(index + 1, total, DeliveredText(object));
      });
  progress.Finish();
  // Scans and print jobs the window queued are its own files: they go once delivered.
  RemoveDeliveredWorkFiles(outbox, report, ThisProgramFolders().workFolder);
  std::printf("%zu delivered, %zu failed, %zu waiting", report.delivered, report.failed,
              report.waiting);
  if (report.stored > 0) std::printf(", %zu awaiting commitment", report.stored);
  std::printf("\n");
  for (const DeliveredObject& object : report.objects) {
    if (object.settled == OutboxState::Failed) {
      std::fprintf(stderr, "%s\n", DeliveredText(object).c_str());
    }
  }
  // Objects meant for another PACS than this one are left for it: say so, with where.
  for (const ArchiveCount& elsewhere : WaitingElsewhere(outbox.Entries(), target)) {
    std::fprintf(stderr, "%zu waiting for %s (--to-current sends them to %s)\n", elsewhere.objects,
                 elsewhere.archive.c_str(), DestinationText(DestinationOf(target)).c_str());
  }
  if (report.failed > 0) return 1;
  if (report.waiting > 0 || report.stored > 0) {
    std::fprintf(stderr, "%s\n", report.cause.c_str());
    return kExitWaiting;
  }
  return 0;
}

int RunOutbox(const std::vector<std::string>& args) {
  const ParsedArgs parsed(
      args, CommitValuedOptions(WebValuedOptions(NetworkValuedOptions(OutboxValuedOptions()))),
      CommitFlags(WebFlags(NetworkFlags({"to-current"}))));
  if (!parsed.ok()) return Usage(parsed.error());
  if (parsed.Positional().empty()) return Usage("list, retry or remove?");
  const std::string action = parsed.Positional()[0];
  const std::vector<std::string> uids(parsed.Positional().begin() + 1, parsed.Positional().end());
  if (action != "list" && action != "retry" && action != "remove") {
    return Usage("unknown action " + action);
  }
  if (action == "remove" && uids.empty()) return Usage("remove needs the UIDs of the objects");
  if (action == "list" && !uids.empty()) return Usage("list takes no UIDs");
  if (action != "retry" && parsed.Has("to-current")) return Usage("--to-current is for retry");
  std::string error;
  const std::unique_ptr<Outbox> outbox = OpenOutboxFromOptions(parsed, error);
  if (!outbox) {
    std::fprintf(stderr, "velloran-cli outbox: %s\n", error.c_str());
    return 1;
  }
  if (action == "list") return List(*outbox);
  if (action == "retry") return Retry(*outbox, parsed, uids);
  const size_t removed = outbox->Remove(uids);
  std::printf("%zu removed\n", removed);
  return removed > 0 ? 0 : 1;
}

const VerbRegistrar kRegistrar({"outbox", "list, retry or remove the objects waiting for the PACS",
                                kUsage.c_str(), RunOutbox});

}  // namespace
