// Sending a batch to the PACS: one association per SOP class and encoding, one C-STORE per object.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "batch.h"
#include "remotenode.h"
#include "settings.h"
#include "studyinfo.h"

// Time-outs of the network operations started by the application, in seconds.
inline constexpr int kSendTimeoutSeconds = 60;
inline constexpr int kEchoTimeoutSeconds = 10;

// The messages the user sees at the end of a Send.
inline constexpr const char* kSentOkMessage = "Images sent OK";
inline constexpr const char* kSendFailedMessage = "ERROR Sending Images, please check Log file";

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
// and acknowledged with status 0.
bool SendObjectList(DataSetList& list, const std::string& sopClassUid,
                    const std::string& transferSyntaxUid, const RemoteNode& pacs,
                    const SendProgress& progress = {});

// Sends the objects of a converted batch, lists in the order images, documents, PDFs, videos,
// one association per SOP class and transfer syntax within each list, and empties the lists. True
// when every list went out completely. Progress gives each object's place in the whole batch.
bool SendLists(BatchLists& lists, const RemoteNode& pacs, const SendProgress& progress = {});

// "Send" without its window: PrepareBatch, ConvertItems, SendLists. `message` receives what the
// user is shown: the preparation's message, or kSentOkMessage / kSendFailedMessage; a failed
// conversion's own message comes before the latter.
bool SendBatch(const BatchForm& form, const StudyInfo* chosen,
               const std::vector<std::string>& items, const SetupConfig& settings,
               const RemoteNode& pacs, std::string& message, const SendProgress& progress = {});

// The part of a Send after preparation, whatever carries the objects: converts the items, hands
// the lists to `sendLists` (which empties them) and gives the message the user sees.
bool ConvertAndSend(const std::vector<std::string>& items,
                    const std::function<bool(BatchLists&)>& sendLists, std::string& message);

// The part of SendBatch after a successful PrepareBatch: conversion and sending, with the same
// message.
bool SendPreparedBatch(const std::vector<std::string>& items, const RemoteNode& pacs,
                       std::string& message, const SendProgress& progress = {});
