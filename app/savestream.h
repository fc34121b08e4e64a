// "Save To Folder" one object at a time: each object is written as soon as it is made and then
// dropped, so that saving a batch of any length needs memory for its largest object only.
#pragma once

#include <stop_token>
#include <string>
#include <vector>

#include "batchreport.h"
#include "streambatch.h"

// Converts the items one at a time and writes every object that was made as
// folder/<SOP Instance UID>.dcm, also when other items gave none. Each object is written into a
// hidden folder inside `folder` and moved into place at the end, so no half-written file ever
// carries a final name. Once `stop` is requested the item in hand is finished and nothing more
// is converted. Paths written go to `written`. True when every item was written; otherwise
// `message` says what was not (SaveOutcomeMessage's text, after the converters' errors).
// `report`, when given, tells what became of each item.
bool SaveItemsToFolder(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, UserMessage& message,
                       std::stop_token stop = {}, BatchReport* report = nullptr,
                       const ItemProgress& progress = {});
