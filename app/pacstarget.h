// The PACS a delivery talks to, and how an outbox object's recorded destination becomes one.
#pragma once

#include <chrono>
#include <string>

#include "dicomwebserver.h"
#include "outboxdestination.h"
#include "remotenode.h"
#include "settings.h"

// What the outbox talks to: the PACS by DICOM, or by DICOMweb when `useWeb` is set.
struct PacsTarget {
  RemoteNode node;
  bool useWeb = false;
  DicomWebServer web;
  // Storage commitment (DICOM only): an object the PACS stored leaves the outbox only once the
  // PACS has committed it. The report may come on the request's association or, when
  // `commitPort` is set, on an association the PACS opens to that port; it is waited for at most
  // `commitWait` per delivery, and asked again on the next one when it did not come.
  bool commit = false;
  std::string commitPort;
  std::chrono::seconds commitWait{60};
};

// The destination objects queued for `target` record. Settings that name no usable DICOMweb
// server give none (Unknown): such objects take the PACS of the settings once they are put right.
OutboxDestination DestinationOf(const PacsTarget& target);

// How to reach `destination`, given the PACS of the settings (`current`). The same archive is
// reached as the settings say now, with their login; another one as it was recorded, with this
// workstation's storage commitment port. False, with `problem`, when it cannot be reached without
// a secret the outbox does not keep: a DICOMweb login of an archive that is no longer the one in
// the settings. `commit` is the object's own commitment wish.
bool TargetFor(const OutboxDestination& destination, bool commit, const PacsTarget& current,
               PacsTarget& target, std::string& problem);

// The PACS of the settings: by DICOMweb when they say so (false, with `problem`, when those
// settings cannot be used), by DICOM otherwise.
bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem);
