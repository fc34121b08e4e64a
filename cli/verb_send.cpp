// velloran-cli send: one batch of files converted into one study and stored on the PACS.
#include <cstdio>
#include <string>

#include "args.h"
#include "commitoptions.h"
#include "failurecause.h"
#include "log.h"
#include "netoptions.h"
#include "outboxoptions.h"
#include "send.h"
#include "sendoutbox.h"
#include "sendweb.h"
#include "studyoptions.h"
#include "verbs.h"
#include "weboptions.h"

namespace {

const std::string kUsage =
    std::string(
        "usage: velloran-cli send [--queue | --direct] [--outbox DIR] [patient and study\n"
        "         options] [network options] FILE...\n"
        "\n"
        "Converts the files into one study, as the window's \"Send\" does, and stores the\n"
        "objects on the PACS: one association per kind of object (images, documents, PDFs,\n"
        "videos), each object converted to the transfer syntax the PACS accepted. Prints\n"
        "\"Images sent OK\" (exit 0) or \"ERROR Sending Images, please check Log file\" (exit 1)\n"
        "with the first cause under it and the files not sent with their reasons (\"2 of 7 items\n"
        "were not sent: empty.txt (no text), notes.odt (unknown kind)\"). A file that gives no\n"
        "object (no text, unknown kind, a failed conversion) makes the run fail; the others are\n"
        "sent all the same. Exits 2 for wrong arguments. To a DICOMweb PACS the objects go by\n"
        "STOW-RS, several in one request.\n"
        "The files are converted one at a time into the outbox (see velloran-cli outbox), which\n"
        "is then delivered while send waits. When the PACS does not answer, the objects wait\n"
        "there (exit 3) and go with the next delivery; an object the PACS refuses stays there as\n"
        "failed (exit 1). --queue returns once the objects are in the outbox (exit 0). --direct,\n"
        "or keepUnsentInOutbox=0 in the settings, stores the batch without the outbox: nothing is\n"
        "kept when the PACS is down.\n"
        "With --commit (or storageCommitment=1 in the settings) an object the PACS stored stays\n"
        "in the outbox until the PACS has committed it: send prints \"committed INSTANCE\" for\n"
        "each, exits 3 when reports are still awaited (the next delivery asks again) and 1 when\n"
        "the PACS could not commit an object (it stays as failed). With --direct the commitment\n"
        "is asked once, on the same run.\n\n") +
    kStudyOptionsUsage + kCommitOptionsUsage + kNetworkOptionsUsage + kWebOptionsUsage +
    kOutboxOptionsUsage;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "velloran-cli send: %s\n%s", problem.c_str(), kUsage.c_str());
  return 2;
}

// "committed INSTANCE" for each object the PACS committed in this send, and how many.
void PrintCommitted(const DeliveryReport& delivery) {
  size_t committed = 0;
  for (const DeliveredObject& object : delivery.objects) {
    if (!object.committed) continue;
    ++committed;
    std::printf("committed %s\n", object.entry.sopInstanceUid.c_str());
  }
  std::printf("%zu of %zu objects committed by the PACS\n", committed, delivery.objects.size());
}

int SendThroughOutbox(const ParsedArgs& parsed, const BatchForm& form,
                      const SetupConfig& settings) {
  PacsTarget target;
  std::string error;
  if (!PacsTargetFromOptions(parsed, settings, target, error)) return Usage(error);
  const std::unique_ptr<Outbox> outbox = OpenOutboxFromOptions(parsed, error);
  if (!outbox) {
    std::fprintf(stderr, "velloran-cli send: %s\n", error.c_str());
    return 1;
  }
  const std::vector<std::string>& items = parsed.Positional();
  std::string message;
  if (!PrepareBatch(form, nullptr, items.size(), settings, message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  ProgressLine progress;
  OutboxSendProgress shown;
  shown.queued = [&](size_t done, size_t total) { progress.Show(done, total, "queued"); };
  shown.delivered = [&](const DeliveredObject& object, size_t index, size_t total) {
    progress.Show(index + 1, total, DeliveredText(object));
  };
  const OutboxSendResult result = SendPreparedThroughOutbox(
      items, *outbox, target,
      parsed.Has("queue") ? OutboxSendMode::QueueOnly : OutboxSendMode::QueueAndDeliver, shown);
  progress.Finish();
  std::fprintf(result.success ? stdout : stderr, "%s\n", result.message.English().c_str());
  if (target.commit && !parsed.Has("queue")) PrintCommitted(result.delivery);
  if (result.success) return 0;
  // An item that gave no object, like an object the PACS refused, fails the run; the message
  // names it.
  const bool refused = result.delivery.failed > 0 || result.queuedItems.size() < items.size();
  // Waiting or refused, the next line names the cause the log gives.
  PrintFailureCause();
  if (!LogFilePath().empty()) std::fprintf(stderr, "log file: %s\n", LogFilePath().c_str());
  if (refused) return 1;
  return kExitWaiting;
}

int RunSend(const std::vector<std::string>& args) {
  const ParsedArgs parsed(
      args,
      OutboxValuedOptions(
          WebValuedOptions(NetworkValuedOptions(CommitValuedOptions(StudyValuedOptions())))),
      WebFlags(NetworkFlags(CommitFlags(ConversionFlags({"queue", "direct"})))));
  if (!parsed.ok()) return Usage(parsed.error());
  if (parsed.Positional().empty()) return Usage("no file given");
  BatchForm form;
  std::string error;
  if (!BatchFormFromOptions(parsed, form, error)) return Usage(error);
  SetupConfig settings;
  if (!LoadNetworkSettings(parsed, settings, error)) return Usage(error);
  ApplyConversionFlags(parsed, settings);
  setupcfg = settings;
  CommitChoice commit;
  if (!CommitChoiceFromOptions(parsed, settings, WantsDicomWeb(parsed, settings), commit, error)) {
    return Usage(error);
  }

  if (parsed.Has("queue") && parsed.Has("direct"))
    return Usage("--queue and --direct exclude each other");
  // A queued object is stored (and its commitment asked) by a later delivery, under the
  // settings of whoever delivers it.
  if (parsed.Has("queue") && parsed.Has("commit"))
    return Usage(
        "--queue stores nothing: storageCommitment=1 in the settings makes the "
        "delivery ask for commitment");
  if (!parsed.Has("direct") && settings.keepUnsentInOutbox)
    return SendThroughOutbox(parsed, form, settings);

  ProgressLine progress;
  std::vector<CommitmentObject> stored;
  auto report = [&](const DcmObj& dataSet, size_t index, size_t total, bool ok) {
    const std::string instance = dataSet.GetString(0x0008, 0x0018);
    progress.Show(index + 1, total, instance + (ok ? " stored" : " FAILED"));
    if (ok) stored.push_back({dataSet.GetString(0x0008, 0x0016), instance});
  };
  UserMessage said;
  bool sent = false;
  if (WantsDicomWeb(parsed, settings)) {
    DicomWebServer web;
    if (!WebPacsFromOptions(parsed, settings, web, error)) return Usage(error);
    sent = SendBatchWeb(form, nullptr, parsed.Positional(), settings, web, said, report);
  } else {
    sent = SendBatch(form, nullptr, parsed.Positional(), settings,
                     PacsFromOptions(parsed, settings), said, report);
  }
  progress.Finish();
  const std::string message = said.English();
  if (commit.wanted && !stored.empty()) {
    std::printf("%s\n", message.c_str());
    std::vector<std::string> labels;
    for (const CommitmentObject& object : stored) labels.push_back(object.sopInstanceUid);
    const bool committed =
        CommitAndReport(stored, labels, PacsFromOptions(parsed, settings), commit);
    return sent && committed ? 0 : 1;
  }
  if (sent) {
    std::printf("%s\n", message.c_str());
    return 0;
  }
  std::fprintf(stderr, "%s\n", message.c_str());
  PrintFailureCause();
  if (!LogFilePath().empty()) std::fprintf(stderr, "log file: %s\n", LogFilePath().c_str());
  return 1;
}

const VerbRegistrar kRegistrar({"send", "convert files into one study and store them on the PACS",
                                kUsage.c_str(), RunSend});

}  // namespace
