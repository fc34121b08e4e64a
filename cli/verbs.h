// The verbs of velloran-cli: each source file registers its own with a VerbRegistrar.
#pragma once

#include <string>
#include <vector>

struct Verb {
  const char* name;
  const char* summary;  // one line for the verb list
  const char* usage;    // the whole help text of `velloran-cli VERB --help`
  int (*run)(const std::vector<std::string>& args);  // arguments after the verb; exit status
};

const std::vector<Verb>& Verbs();

struct VerbRegistrar {
  explicit VerbRegistrar(const Verb& verb);
};
