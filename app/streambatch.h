// A batch converted one item at a time, each object handed on as soon as it is made and then
// dropped, so that a batch of any length needs memory for its largest object only.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "dcmobj.h"

// Receives each object with the index of the item it came from; false stops the batch, with the
// reason in `error`.
using ObjectSink = std::function<bool(DcmObj& object, size_t item, std::string& error)>;
// Called after each item with the number of items done.
using ItemProgress = std::function<void(size_t done, size_t total)>;

struct StreamedBatch {
  std::vector<size_t> handed;   // items whose objects all went to the sink
  std::vector<size_t> skipped;  // items that gave no object (another kind, a document without text)
  bool complete = false;        // every item was handled; otherwise `message` says why not
  std::string message;          // names the item that could not be converted or handed on
};

// Converts the items in list order with the converter their extension selects, numbering the
// objects as ConvertItems does, and hands each object to `sink`. Stops at the first item that
// cannot be converted or that the sink refuses; the items before it have been handed on.
StreamedBatch ConvertItemsOneByOne(const std::vector<std::string>& items, const ObjectSink& sink,
                                   const ItemProgress& progress = {});
