// velloran-cli: the command-line face of the same logic the window runs.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "verbs.h"

namespace {

std::vector<Verb>& Registry() {
  static std::vector<Verb> verbs;
  return verbs;
}

void PrintOverview(std::FILE* out) {
  std::fprintf(out,
               "usage: velloran-cli VERB [OPTIONS] [ARGS]\n"
               "       velloran-cli VERB --help\n\nverbs:\n");
  for (const Verb& verb : Verbs()) std::fprintf(out, "  %-10s %s\n", verb.name, verb.summary);
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
