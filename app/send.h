// Sending a batch to the PACS: one association per SOP class and encoding, one C-STORE per object.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "batch.h"
#include "batchreport.h"
#include "remotenode.h"
#include "settings.h"
#include "studyinfo.h"

// Time-outs of the network operations started by the application, in seconds.
inline constexpr int kSendTimeoutSeconds = 60;
inline constexpr int kEchoTimeoutSeconds = 10;

// The messages the user sees at the end of a Send.
inline const UserMessage kSentOkMessage{UserMessageKind::SentOk};
inline const UserMessage kSendFailedMessage{UserMessageKind::SendFailed};

// The PACS and the worklist server as the settings name them, without TLS.
RemoteNode PacsNode(const SetupConfig& settings);
RemoteNode WorklistNode(const SetupConfig& settings);

// Called after each object with its place in the list and whether it was stored.
using SendProgress =
    std::function<void(const DcmObj& dataSet, size_t index, size_t total, bool stored)>;

// One association proposing the SOP class in the given transfer syntax and, in a second context,
// Implicit VR Little Endian; one C-STORE per data set in list order, each on the context of its
// own syntax when accepted (converted otherwise). Once the peer released or aborted nothing more
// is written and the rest is reported as not stored. True only when every object was written
// and stored (a warning status counts as stored). Once `stop` is requested the object in flight
// is finished and no further one is written. `report`, when given, learns each object's fate and
// the first cause of a failure in words a receptionist can act on.
bool SendObjectList(DataSetList& list, const std::string& sopClassUid,
                    const std::string& transferSyntaxUid, const RemoteNode& pacs,
                    const SendProgress& progress = {}, std::stop_token stop = {},
                    BatchReport* report = nullptr);

// Why an association with the PACS could not be opened, for the user: "The PACS at
// 10.0.0.5:104 did not answer", "PACS refused the AE title VELLORAN", ...
UserMessage AssociationFailureCause(const PDU_Service& service, const RemoteNode& pacs);

// Sends the objects of a converted batch, lists in the order images, documents, PDFs, videos,
// one association per SOP class and transfer syntax within each list, and empties the lists. True
// when every list went out completely. Progress gives each object's place in the whole batch.
// `stop` and `report` as for SendObjectList.
bool SendLists(BatchLists& lists, const RemoteNode& pacs, const SendProgress& progress = {},
               std::stop_token stop = {}, BatchReport* report = nullptr);

// "Send" without its window: PrepareBatch, ConvertItems, SendLists. `message` receives what the
// user is shown: the preparation's message, or SendOutcomeMessage's.
bool SendBatch(const BatchForm& form, const StudyInfo* chosen,
               const std::vector<std::string>& items, const SetupConfig& settings,
               const RemoteNode& pacs, UserMessage& message, const SendProgress& progress = {});

// The part of SendBatch after a successful PrepareBatch: conversion and sending. Every object
// that was made is sent, also when other items gave none. True when every item was stored.
// `message` as SendOutcomeMessage gives it; `report`, when given, tells what became of each item
// (the window takes the stored ones from the list). Once `stop` is requested the object in flight
// is finished and nothing more is converted or sent.
bool SendPreparedBatch(const std::vector<std::string>& items, const RemoteNode& pacs,
                       UserMessage& message, const SendProgress& progress = {},
                       std::stop_token stop = {}, BatchReport* report = nullptr);

// What the user is shown after a Send: "Images sent OK" when every item was stored; otherwise the
// failure sentence (or, when cancelled, which items were stored), the first cause under it, and
// the items not sent with their reasons.
UserMessage SendOutcomeMessage(const BatchReport& report);

// Hands the objects of a converted batch to whatever carries them; it empties the lists and
// records each object's fate in the report.
using SendConverted = std::function<void(BatchLists& lists, BatchReport& report)>;

// The part of a Send after preparation, whatever carries the objects: converts the items, hands
// the lists to `sendLists` and gives the message SendOutcomeMessage builds. `stop` and `report`
// as for SendPreparedBatch.
bool ConvertAndSend(const std::vector<std::string>& items, const SendConverted& sendLists,
                    UserMessage& message, std::stop_token stop = {}, BatchReport* report = nullptr);
