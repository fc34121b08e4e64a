// The one decision on a stored object, from a C-STORE status or a DICOMweb reason code.
#include "storeoutcome.h"

#include <gtest/gtest.h>

namespace {

TEST(StoreOutcome, StatusesDecideAsTheirClassSays) {
  constexpr auto S = StoreResult::Stored;
  constexpr auto W = StoreResult::StoredWithWarning;
  constexpr auto F = StoreResult::Failed;
  const struct {
    int status;
    StoreResult result;
    const char* cause;
  } rows[] = {
      {0x0000, S, ""},
      {0x0001, W, "status 0x0001 (warning)"},
      {0x0107, W, "status 0x0107 (warning: attribute list error)"},
      {0x0116, W, "status 0x0116 (warning: attribute value out of range)"},
      {0xB000, W, "status 0xB000 (warning: coercion of data elements)"},
      {0xB006, W, "status 0xB006 (warning: elements discarded)"},
      {0xB007, W, "status 0xB007 (warning: data set does not match SOP class)"},
      {0xB123, W, "status 0xB123"},
      {0x0110, F, "status 0x0110 (processing failure)"},
      {0x0111, F, "status 0x0111 (duplicate SOP instance)"},
      {0x0122, F, "status 0x0122 (SOP class not supported)"},
      {0x0124, F, "status 0x0124 (not authorized)"},
      {0xA700, F, "status 0xA700 (refused: out of resources)"},
      {0xA7FF, F, "status 0xA7FF (refused: out of resources)"},
      {0xA900, F, "status 0xA900 (error: data set does not match SOP class)"},
      {0xC000, F, "status 0xC000 (error: cannot understand)"},
      {0xC122, F, "status 0xC122 (transfer syntax not supported)"},
      {0xCFFF, F, "status 0xCFFF (error: cannot understand)"},
      {0xFE00, F, "status 0xFE00 (cancelled)"},
      {0x0123, F, "status 0x0123"},
  };
  for (const auto& row : rows) {
    const StoreOutcome outcome = StoreOutcomeFromStatus(row.status);
    EXPECT_EQ(outcome.result, row.result) << std::hex << row.status;
    EXPECT_EQ(outcome.status, row.status);
    EXPECT_EQ(outcome.cause, row.cause);
    EXPECT_EQ(outcome.IsStored(), row.result != F);
  }
  // No status at all: a failure with the cause given, never a success.
  const StoreOutcome none = StoreOutcomeFromStatus(-2, "the association was aborted");
  EXPECT_EQ(none.result, F);
  EXPECT_EQ(none.status, -1);
  EXPECT_EQ(none.cause, "the association was aborted");
  EXPECT_EQ(StoreOutcomeFromStatus(-1).cause, "no response");
  // Listed as failed means failed, even with a code that would be a warning or a success.
  EXPECT_EQ(FailedStoreOutcome(0xB000).result, F);
  EXPECT_EQ(FailedStoreOutcome(0).result, F);
  EXPECT_EQ(StoreFailure("gone").cause, "gone");
}

}  // namespace
