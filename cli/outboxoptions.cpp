// What the verbs that use the outbox share.
#include "outboxoptions.h"

#include "commitoptions.h"
#include "netoptions.h"
#include "weboptions.h"

const char* const kOutboxOptionsUsage =
    "  --outbox DIR         the outbox folder (default: outbox in the per-user data folder,\n"
    "                       $XDG_DATA_HOME/velloran/outbox)\n";

std::set<std::string> OutboxValuedOptions(std::set<std::string> own) {
  own.insert("outbox");
  return own;
}

std::unique_ptr<Outbox> OpenOutboxFromOptions(const ParsedArgs& parsed, std::string& error) {
  auto outbox =
      std::make_unique<Outbox>(parsed.ValueOr("outbox", Outbox::DefaultFolder().string()));
  if (!outbox->Open(error)) return nullptr;
  return outbox;
}

bool PacsTargetFromOptions(const ParsedArgs& parsed, const SetupConfig& settings,
                           PacsTarget& target, std::string& error) {
  target = PacsTarget{};
  target.node = PacsFromOptions(parsed, settings);
  target.useWeb = WantsDicomWeb(parsed, settings);
  CommitChoice commit;
  if (!CommitChoiceFromOptions(parsed, settings, target.useWeb, commit, error)) return false;
  target.commit = commit.wanted;
  target.commitPort = commit.listenPort;
  target.commitWait = commit.limit;
  return !target.useWeb || WebPacsFromOptions(parsed, settings, target.web, error);
}

std::string DeliveredText(const DeliveredObject& object) {
  const std::string name = OutboxObjectName(object.entry);
  switch (object.settled) {
    case OutboxState::Gone:
      return name + (object.committed ? " committed" : " stored");
    case OutboxState::Stored:
      return name + " stored, awaiting commitment" +
             (object.outcome.IsStored() ? "" : ": " + object.outcome.cause);
    case OutboxState::Failed:
      return name + ": " + object.outcome.cause;
    default:
      return name + " waits: " + object.outcome.cause;
  }
}
