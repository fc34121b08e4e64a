// Reading an A-ASSOCIATE-RQ that a scripted peer received back into its class.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "link_pair.h"
#include "pdu.h"

// `pdu` is the whole request as received, its type byte first.
inline AAssociateRQ ParseRequest(const std::vector<uint8_t>& pdu) {
  Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
  LinkPair pair(link);
  pair.Feed(std::vector<uint8_t>(pdu.begin() + 1, pdu.end()));
  AAssociateRQ request;
  EXPECT_EQ(request.Read(link), ReadStatus::Complete);
  return request;
}
