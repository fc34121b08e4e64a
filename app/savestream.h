// "Save To Folder" one object at a time: each object is written as soon as it is made and then
// dropped, so that saving a batch of any length needs memory for its largest object only.
#pragma once

#include <string>
#include <vector>

#include "streambatch.h"

// Converts the items one at a time and writes every object as folder/<SOP Instance UID>.dcm.
// Objects are first written into a hidden folder inside `folder` and moved into place once every
// item is converted, so a batch stopped by an item that cannot be converted leaves nothing
// behind. Paths written go to `written`, items that gave no object to `skipped` when given;
// false, with a message naming the item that could not be converted or each file that could not
// be written.
bool SaveItemsToFolder(const std::vector<std::string>& items, const std::string& folder,
                       std::vector<std::string>& written, std::string& message,
                       std::vector<std::string>* skipped = nullptr,
                       const ItemProgress& progress = {});
