// The start-up and shut-down steps that the print capture hooks into the window (kept as functions
// so the window does not depend on how capture works).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "itemlist.h"

struct CaptureHooks {
  // Runs at the end of the deferred start; returns a message for the user, or empty.
  std::function<std::string(const std::string& port, const std::filesystem::path& workFolder,
                            ItemList& items)>
      start;
  // Runs when the window closes, before the item list is freed.
  std::function<void()> stop;
  // Failures of captured jobs since the last call; the timer shows them.
  std::function<std::vector<std::string>()> messages;
};
