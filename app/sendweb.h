// Sending a batch to the PACS over DICOMweb: STOW-RS requests of several objects each.
#pragma once

#include <string>
#include <vector>

#include "batch.h"
#include "dicomwebserver.h"
#include "send.h"
#include "storefiles.h"
#include "storeoutcome.h"
#include "stowrs.h"

// Stores the objects of a converted batch by STOW-RS, lists in the order images, documents,
// PDFs, videos, in as few requests as `limits` allow, each object encoded while it is sent, and
// empties the lists. An object stored with a warning counts as stored (the warning is logged);
// `outcomes`, when given, receives every object's outcome in batch order. True when every object
// was stored.
bool SendListsWeb(BatchLists& lists, const DicomWebServer& pacs, const SendProgress& progress = {},
                  std::vector<StoreOutcome>* outcomes = nullptr, const StowLimits& limits = {});

// "Send" to a DICOMweb PACS without its window: PrepareBatch, ConvertItems, SendListsWeb, with
// the messages SendBatch gives.
bool SendBatchWeb(const BatchForm& form, const StudyInfo* chosen,
                  const std::vector<std::string>& items, const SetupConfig& settings,
                  const DicomWebServer& pacs, UserMessage& message,
                  const SendProgress& progress = {});

// The part of SendBatchWeb after a successful PrepareBatch, with SendPreparedBatch's outcome and
// message; a cancel is honoured before the first request.
bool SendPreparedBatchWeb(const std::vector<std::string>& items, const DicomWebServer& pacs,
                          UserMessage& message, const SendProgress& progress = {},
                          std::stop_token stop = {}, BatchReport* report = nullptr);

// The part of a Send after preparation, to the PACS the settings name: by DICOMweb when they say
// so (SendPreparedBatchWeb), by DICOM otherwise (SendPreparedBatch). DICOMweb settings that
// cannot be used fail with their problem and kSendFailedMessage, before anything is converted.
// `stop` and `report` as for SendPreparedBatch.
bool SendPreparedBatchToPacs(const std::vector<std::string>& items, const SetupConfig& settings,
                             UserMessage& message, const SendProgress& progress = {},
                             std::stop_token stop = {}, BatchReport* report = nullptr);

// Stores existing Part 10 files as they are by STOW-RS, each read from disk while it is sent.
// `errors` receives one line per file that was not stored, naming it and the cause. True when
// every file was stored (warnings included).
bool StoreFilesWeb(const std::vector<std::string>& paths, const DicomWebServer& pacs,
                   std::vector<std::string>& errors, const StoreFileProgress& progress = {},
                   const StowLimits& limits = {});
