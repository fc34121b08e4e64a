// Tests of the batch UID root: uniqueness across batches and the 64-character limit.
#include "batchuid.h"

#include <gtest/gtest.h>

#include <set>

#include "uids.h"

namespace {

std::string Root() {
  return kOrganisationUidRoot;
}

bool IsValidUid(const std::string& uid) {
  if (uid.empty() || uid.size() > kMaxUidLength || uid.front() == '.' || uid.back() == '.') {
    return false;
  }
  for (size_t i = 0; i < uid.size(); ++i) {
    if (uid[i] == '.') {
      if (uid[i - 1] == '.') return false;
      continue;
    }
    if (uid[i] < '0' || uid[i] > '9') return false;
    // No component of more than one digit starts with a zero.
    const bool starts = i == 0 || uid[i - 1] == '.';
    if (starts && uid[i] == '0' && i + 1 < uid.size() && uid[i + 1] != '.') return false;
  }
  return true;
}

TEST(BatchUidTest, TheStampReplacesTheMinuteAndTheRestStays) {
  const std::string generated =
      GenerateUid("WS-0001-7Q9Z", "PID4711", "", "20230118", "143210", "129");
  ASSERT_EQ(generated.substr(Root().size()), ".12900107090.4711.2301181432");
  EXPECT_EQ(MakeBatchUidRoot(generated, 1234567, 10), Root() + ".12900107090.4711.1234567");
  EXPECT_EQ(MakeBatchUidRoot("", 1, 1), "");
}

TEST(BatchUidTest, InstanceUidsFitSixtyFourCharactersForLongIdsAndLargeBatches) {
  // Patient IDs and accession numbers long enough for four characters each, with dots inside
  // that would leave empty components, and the largest stamps of this century.
  const struct {
    const char* patientId;
    const char* accession;
  } ids[] = {{"PATIENT-123456789", "ACC-987654321"}, {"12.", "..5"}, {"0000", "0000"}, {"X", "Y"}};
  for (const auto& id : ids) {
    const std::string generated = GenerateUid("a1b2c3d4e5f60718293a4b5c6d7e8f90", id.patientId,
                                              id.accession, "20991231", "235959", "129");
    for (size_t items :
         {size_t{1}, size_t{9}, size_t{10}, size_t{500}, size_t{9999}, size_t{99999}}) {
      const std::string root = MakeBatchUidRoot(generated, 9999999999ull, items);
      const std::string longest = root + ".10." + std::to_string(items);
      EXPECT_LE(longest.size(), kMaxUidLength) << longest;
      EXPECT_TRUE(IsValidUid(longest)) << longest;
      EXPECT_TRUE(IsValidUid(root + ".20")) << root;
      EXPECT_EQ(root.substr(0, Root().size()), Root());
    }
  }
}

TEST(BatchUidTest, StampsNeverRepeat) {
  std::set<uint64_t> seen;
  uint64_t last = 0;
  for (int i = 0; i < 200; ++i) {
    const uint64_t stamp = NextBatchStamp();
    EXPECT_GT(stamp, last);
    EXPECT_TRUE(seen.insert(stamp).second);
    last = stamp;
  }
}

TEST(BatchUidTest, InstallationIdIsStableAndLongEnough) {
  const std::string id = InstallationId();
  EXPECT_GE(id.size(), 8u);
  EXPECT_EQ(id, InstallationId());
}

}  // namespace
