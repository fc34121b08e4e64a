// What velloran-cli shows as the cause of a failure: the first error this run logged.
#pragma once

#include <string>

// The first ERROR line this run logged, empty when there was none. A connection error's platform
// code gets its meaning added ("..., 111 (Connection refused)").
std::string FailureCause();

// Prints the cause, when there is one, as a line of its own on stderr. Standard output is flushed
// first, so that on a terminal the cause follows the message it explains.
void PrintFailureCause();
