// velloran-cli: the command-line face of the same logic the window runs.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "appfolders.h"
#include "verbs.h"

namespace {

std::vector<Verb>& Registry() {
  static std::vector<Verb> verbs;
  return verbs;
}

#ifndef VELLORAN_VERSION
#define VELLORAN_VERSION "0.0.0"
#endif

// The overview is also the source of the manual page (sections are the lines ending in ":"), so
// what it says about exit codes and files is said once.
void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "usage: velloran-cli VERB [OPTIONS] [ARGS]\n"
               "       velloran-cli VERB --help\n"
               "       velloran-cli --version\n"
               "\n"
               "Converts pictures, documents, PDF files and videos into DICOM objects for a PACS.\n"
               "Each verb does one thing the Velloran window does, with the same logic and\n"
               "settings: a batch sent or saved, a search of the PACS or the worklist server, a\n"
               "connection test; and it dumps and transcodes DICOM files.\n"
               "\n"
               "verbs:\n");
  for (const Verb& verb : Verbs()) std::fprintf(out, "  %-10s %s\n", verb.name, verb.summary);
  std::fputs(
      "\n"
      "exit status:\n"
      "  0  the verb did what was asked\n"
      "  1  it failed: a server did not answer or refused, or a file could not be read,\n"
      "     converted or written. After the message, the next line on stderr gives the cause:\n"
      "     the first error this run logged\n"
      "  2  wrong arguments: an unknown verb or option, a missing value or file\n"
      "\n",
      out);
  std::fputs(kAppFoldersHelp, out);
}

}  // namespace

const std::vector<Verb>& Verbs() {
  return Registry();
}

VerbRegistrar::VerbRegistrar(const Verb& verb) {
  auto& verbs = Registry();
  auto position = verbs.begin();
  while (position != verbs.end() && std::strcmp(position->name, verb.name) < 0) ++position;
  verbs.insert(position, verb);
}

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velloran-cli %s\n", VELLORAN_VERSION);
    return 0;
  }
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    PrintOverview(stdout);
    return argc < 2 ? 2 : 0;
  }
  const std::string name = argv[1];
  for (const Verb& verb : Verbs()) {
    if (name != verb.name) continue;
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
      if (arg == "--help" || arg == "-h") {
        std::fputs(verb.usage, stdout);
        return 0;
      }
      if (arg == "--") break;
    }
    return verb.run(args);
  }
  std::fprintf(stderr, "velloran-cli: unknown verb '%s'\n\n", name.c_str());
  PrintOverview(stderr);
  return 2;
}
