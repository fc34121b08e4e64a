// Where an object of the outbox is to be delivered: the PACS it was queued for, recorded with it
// so that a later delivery never sends it anywhere else.
#pragma once

#include <string>

#include "dicomwebserver.h"

enum class DestinationKind {
  // Queued by a version that recorded no destination: it takes the PACS of the settings at its
  // next delivery, once, and keeps that one from then on.
  Unknown,
  Dicom,
  Web,
};

// The PACS an object goes to. Everything needed to reach it again is here except a secret: a
// DICOMweb password or token stays in the settings and is never written into the outbox.
struct OutboxDestination {
  DestinationKind kind = DestinationKind::Unknown;
  // DICOM: our AE title, the PACS's, its address and the TLS choices (file names only).
  std::string callingAet;
  std::string calledAet;
  std::string host;
  std::string port;
  bool tls = false;
  std::string certificateFile;
  std::string keyFile;
  std::string caFile;
  // DICOMweb: the base URL without any login written into it, and the kind of login.
  std::string baseUrl;
  WebAuth auth = WebAuth::None;

  bool operator==(const OutboxDestination&) const = default;
};

// True when both name the same archive: the same AE title at the same host and port, or the same
// DICOMweb base URL. How this program connects to it (its own AE title, TLS, the login) may have
// changed meanwhile without making it another archive.
bool SameArchive(const OutboxDestination& first, const OutboxDestination& second);

// "RESEARCH at 10.0.0.9:104", or the DICOMweb base URL; "the PACS of the settings" when unknown.
std::string DestinationText(const OutboxDestination& destination);

// The archive's short name: its AE title, or the DICOMweb base URL ("PACSAET").
std::string ArchiveName(const OutboxDestination& destination);
