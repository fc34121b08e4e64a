// A batch converted one item at a time, each object handed on as soon as it is made and then
// dropped, so that a batch of any length needs memory for its largest object only.
#pragma once

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

#include "batchreport.h"
#include "dcmobj.h"

// Receives each object with the index of the item it came from; false stops the batch, with the
// reason in `error`.
using ObjectSink = std::function<bool(DcmObj& object, size_t item, std::string& error)>;
// Called after each item with the number of items done.
using ItemProgress = std::function<void(size_t done, size_t total)>;

struct StreamedBatch {
  std::vector<size_t> handed;   // items whose objects all went to the sink
  std::vector<size_t> skipped;  // items that gave no object (another kind, no text, a failure)
  bool complete = false;        // every item gave its objects to the sink, and nothing stopped
  bool cancelled = false;       // the stop was requested before every item was converted
  std::string message;          // the converters' errors, one a line, and the sink's
};

// Converts the items in list order with the converter their extension selects, numbering the
// objects as ConvertItems does, and hands each object to `sink`. An item of another kind, a
// document without text and a source that cannot be converted give no object: `report` (made
// anew for `items` when given) names each with its reason, as ConvertItems does, and the other
// items go on. A sink that refuses an object stops the batch; so does `stop`, between two items.
// The report learns which object came from which item; the sink tells it what became of each.
StreamedBatch ConvertItemsOneByOne(const std::vector<std::string>& items, const ObjectSink& sink,
                                   const ItemProgress& progress = {}, std::stop_token stop = {},
                                   BatchReport* report = nullptr);
