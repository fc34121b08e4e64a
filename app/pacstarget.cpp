// The PACS a delivery talks to.
#include "pacstarget.h"

#include "send.h"
#include "webpacs.h"

OutboxDestination DestinationOf(const PacsTarget& target) {
  OutboxDestination destination;
  if (target.useWeb) {
    if (!DicomWebServerProblem(target.web).empty()) return destination;
    destination.kind = DestinationKind::Web;
    destination.baseUrl = ShownUrl(target.web.baseUrl);
    destination.auth = target.web.auth;
    return destination;
  }
  const RemoteNode& node = target.node;
  destination.kind = DestinationKind::Dicom;
  destination.callingAet = node.callingAet;
  destination.calledAet = node.calledAet;
  destination.host = node.host;
  destination.port = node.port;
  destination.tls = node.useTls;
  destination.certificateFile = node.certificateFile;
  destination.keyFile = node.keyFile;
  destination.caFile = node.caFile;
  return destination;
}

bool TargetFor(const OutboxDestination& destination, bool commit, const PacsTarget& current,
               PacsTarget& target, std::string& problem) {
  target = current;
  target.commit = commit && destination.kind != DestinationKind::Web;
  if (destination.kind == DestinationKind::Unknown ||
      SameArchive(destination, DestinationOf(current))) {
    return true;
  }
  target.useWeb = destination.kind == DestinationKind::Web;
  if (target.useWeb) {
    if (destination.auth != WebAuth::None) {
      problem = "waiting for " + destination.baseUrl + ", whose login is no longer in the settings";
      return false;
    }
    target.web = DicomWebServer();
    target.web.baseUrl = destination.baseUrl;
    // The checks and the time-out of the settings' server apply to any server.
    target.web.verifyCertificate = current.web.verifyCertificate;
    target.web.caFile = current.web.caFile;
    target.web.timeoutSeconds = current.web.timeoutSeconds;
    return true;
  }
  target.node.callingAet = destination.callingAet;
  target.node.calledAet = destination.calledAet;
  target.node.host = destination.host;
  target.node.port = destination.port;
  target.node.useTls = destination.tls;
  target.node.certificateFile = destination.certificateFile;
  target.node.keyFile = destination.keyFile;
  target.node.caFile = destination.caFile;
  return true;
}

bool PacsTargetFromSettings(const SetupConfig& settings, PacsTarget& target, std::string& problem) {
  target = PacsTarget{};
  target.node = PacsNode(settings);
  target.useWeb = UsesDicomWeb(settings);
  target.commit = settings.storageCommitment && !target.useWeb;
  target.commitPort = settings.commitmentPort;
  return !target.useWeb || WebPacs(settings, target.web, problem);
}
