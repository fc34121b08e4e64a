// The cause line printed after a failure message.
#include "failurecause.h"

#include <cstdio>
#include <cstring>

#include "log.h"

namespace {

constexpr std::string_view kConnectionError = "ERROR, Connecting to Socket: ";

}  // namespace

std::string FailureCause() {
  std::string cause = FirstErrorLine();
  // "ERROR, Connecting to Socket: host:port, code": the code is the platform's error number.
  const size_t comma = cause.rfind(", ");
  if (cause.rfind(kConnectionError, 0) != 0 || comma == std::string::npos) return cause;
  const std::string code = cause.substr(comma + 2);
  if (code.empty() || code.size() > 4 ||
      code.find_first_not_of("0123456789") != std::string::npos) {
    return cause;
  }
  return cause + " (" + std::strerror(std::stoi(code)) + ")";
}

void PrintFailureCause() {
  const std::string cause = FailureCause();
  if (cause.empty()) return;
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", cause.c_str());
}
