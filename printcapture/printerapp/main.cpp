// velloran-printer: the printer application that receives what is printed to the capture queue
// and files each job for the user who printed it. The package runs it as a service.
#include <cstdio>
#include <cstring>
#include <string>

#include "captureprinter.h"

namespace {

void PrintHelp() {
  std::fputs(
      "usage: velloran-printer [--socket PATH] [--spool FOLDER] [--log FILE] [--debug]\n"
      "\n"
      "The printer application of Velloran's print capture. An IPP Everywhere printer that\n"
      "listens on a local socket only (no network port, no DNS-SD advertising), takes PDF, JPEG\n"
      "and PNG documents and raster pages, and files each job as a PDF in the spool folder of\n"
      "the user who printed it, where that user's Velloran window takes it as an item. Only\n"
      "root, the print spooler (group lp) and printer administrators (group lpadmin) can\n"
      "reach its socket.\n"
      "\n"
      "options:\n"
      "  --socket PATH    the IPP socket (default /run/velloran-printer/printer.sock)\n"
      "  --spool FOLDER   the users' job folders (default /var/spool/velloran)\n"
      "  --log FILE       the log (default: standard error)\n"
      "  --debug          log every request\n"
      "\n"
      "Runs until it receives SIGTERM or SIGINT.\n"
      "\n"
      "exit status:\n"
      "  0  stopped\n"
      "  1  could not start (the cause on standard error)\n"
      "  2  wrong arguments\n",
      stdout);
}

}  // namespace

int main(int argc, char** argv) {
  CapturePrinterOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--help") {
      PrintHelp();
      return 0;
    }
    if (argument == "--debug") {
      options.debug = true;
    } else if (argument == "--socket" && hasValue) {
      options.places.socket = argv[++i];
    } else if (argument == "--spool" && hasValue) {
      options.places.spool = argv[++i];
    } else if (argument == "--log" && hasValue) {
      options.logFile = argv[++i];
    } else {
      std::fprintf(stderr, "velloran-printer: unknown argument %s; see velloran-printer --help\n",
                   argument.c_str());
      return 2;
    }
  }
  if (!options.places.socket.is_absolute() || !options.places.spool.is_absolute()) {
    std::fputs("velloran-printer: the socket and the spool need absolute paths\n", stderr);
    return 2;
  }
  return RunCapturePrinter(options);
}
