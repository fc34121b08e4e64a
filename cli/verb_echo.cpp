// velloran-cli echo: the settings dialog's "Test" button, a C-ECHO to the PACS or the worklist.
#include <cstdio>
#include <string>

#include "args.h"
#include "failurecause.h"
#include "netoptions.h"
#include "qidors.h"
#include "send.h"
#include "storage.h"
#include "verbs.h"
#include "weboptions.h"

namespace {

const std::string kUsage =
    std::string(
        "usage: velloran-cli echo [--worklist] [network options]\n"
        "\n"
        "Sends one C-ECHO to the PACS (or, with --worklist, to the "
        "worklist server) and prints\n"
        "\"AET is up and running!\" (exit 0) or \"ERROR, AET does not "
        "answer!\" (exit 1), AET being\n"
        "the called AE title. After a failure, the next line on stderr gives its cause: the\n"
        "first error this run logged. A DICOMweb PACS is tested with a QIDO-RS search for one\n"
        "study instead: the line names the server's address, its HTTP status and name.\n\n") +
    kNetworkOptionsUsage + kWebOptionsUsage;

int RunEcho(const std::vector<std::string>& args) {
  const ParsedArgs parsed(args, WebValuedOptions(NetworkValuedOptions()),
                          WebFlags(NetworkFlags({"worklist"})));
  std::string error;
  SetupConfig settings;
  if (!parsed.ok() || !parsed.Positional().empty()) {
    std::fprintf(stderr, "velloran-cli echo: %s\n%s",
                 parsed.ok() ? "unexpected argument" : parsed.error().c_str(), kUsage.c_str());
    return 2;
  }
  if (!LoadNetworkSettings(parsed, settings, error)) {
    std::fprintf(stderr, "velloran-cli echo: %s\n", error.c_str());
    return 2;
  }
  if (!parsed.Has("worklist") && WantsDicomWeb(parsed, settings)) {
    DicomWebServer web;
    if (!WebPacsFromOptions(parsed, settings, web, error)) {
      std::fprintf(stderr, "velloran-cli echo: %s\n", error.c_str());
      return 2;
    }
    std::string message;
    if (TestDicomWeb(web, message)) {
      std::printf("%s\n", message.c_str());
      return 0;
    }
    std::printf("ERROR, %s does not answer!\n", ShownUrl(web.baseUrl).c_str());
    PrintFailureCause();
    return 1;
  }
  const RemoteNode node = parsed.Has("worklist") ? WorklistFromOptions(parsed, settings)
                                                 : PacsFromOptions(parsed, settings);
  if (EchoSCU(node, kEchoTimeoutSeconds)) {
    std::printf("%s is up and running!\n", node.calledAet.c_str());
    return 0;
  }
  std::printf("ERROR, %s does not answer!\n", node.calledAet.c_str());
  PrintFailureCause();
  return 1;
}

const VerbRegistrar kRegistrar({"echo", "test the PACS or the worklist server with a C-ECHO",
                                kUsage.c_str(), RunEcho});

}  // namespace
