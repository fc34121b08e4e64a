// What the verbs that use the outbox share: its folder, the PACS it is delivered to, and how a
// delivery is shown.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "args.h"
#include "outbox.h"
#include "outboxdelivery.h"
#include "settings.h"

// --outbox DIR.
std::set<std::string> OutboxValuedOptions(std::set<std::string> own = {});
extern const char* const kOutboxOptionsUsage;

// The outbox of --outbox, or the user's own; opened. Null, with `error`, when it cannot be.
std::unique_ptr<Outbox> OpenOutboxFromOptions(const ParsedArgs& parsed, std::string& error);

// The PACS of the settings with the network, DICOMweb and storage commitment options applied
// (storage commitment as --commit or the settings ask). False, with `error`, when they do not fit.
bool PacsTargetFromOptions(const ParsedArgs& parsed, const SetupConfig& settings,
                           PacsTarget& target, std::string& error);

// The progress line of one delivered object, named by its file (its SOP Instance UID when it was
// made from none): "report.pdf stored", "report.pdf: refused by the PACS, status 0xA700 (out of
// resources)", "report.pdf waits: PACS did not answer".
std::string DeliveredText(const DeliveredObject& object);

// Exit status when objects still wait in the outbox for a PACS that did not answer.
inline constexpr int kExitWaiting = 3;
