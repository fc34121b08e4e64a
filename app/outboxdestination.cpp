// Where an object of the outbox is to be delivered.
#include "outboxdestination.h"

bool SameArchive(const OutboxDestination& first, const OutboxDestination& second) {
  if (first.kind != second.kind) return false;
  switch (first.kind) {
    case DestinationKind::Dicom:
      return first.calledAet == second.calledAet && first.host == second.host &&
             first.port == second.port;
    case DestinationKind::Web:
      return first.baseUrl == second.baseUrl;
    case DestinationKind::Unknown:
      break;
  }
  return true;
}

std::string DestinationText(const OutboxDestination& destination) {
  switch (destination.kind) {
    case DestinationKind::Dicom:
      return destination.calledAet + " at " + destination.host + ":" + destination.port;
    case DestinationKind::Web:
      return destination.baseUrl;
    case DestinationKind::Unknown:
      break;
  }
  return "the PACS of the settings";
}

std::string ArchiveName(const OutboxDestination& destination) {
  switch (destination.kind) {
    case DestinationKind::Dicom:
      return destination.calledAet;
    case DestinationKind::Web:
      return destination.baseUrl;
    case DestinationKind::Unknown:
      break;
  }
  return "the PACS";
}
