// A scripted worklist server for the tests of searches that stop part-way.
#pragma once

#include <string>
#include <vector>

#include "bufdata.h"
#include "dcmobj.h"
#include "dimse.h"
#include "scripted_peer.h"
#include "syntaxes.h"

namespace testpeer {

// A worklist server that accepts, reads the request, sends `count` matches (DOE^JANE0, …) and
// then, instead of its final response, does what `end` says: closes the connection, or answers
// with a failure status.
inline std::vector<Step> PartialWorklist(int count, const std::vector<Step>& end) {
  std::vector<Step> steps = {Step::ReceivePdu(),
                             Step::Send(AssociateAC({{1, 0, kImplicitVRLittleEndian}})),
                             Step::ReceivePdu(), Step::ReceivePdu()};
  for (int i = 0; i < count; ++i) {
    DcmObj match;
    match.AddString(0x0010, 0x0010, "DOE^JANE" + std::to_string(i));
    BufData encoded;
    encoded.WriteDataSet(match);
    steps.push_back(Step::Send(PData(
        1, {{0x03, ResponseCommand(kCommandFindRSP, 0xFF00, 0x0102)}, {0x02, encoded.stream}})));
  }
  steps.insert(steps.end(), end.begin(), end.end());
  return steps;
}

}  // namespace testpeer
