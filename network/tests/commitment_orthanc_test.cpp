// Storage commitment with Orthanc as the PACS: an object it does not hold comes back in the Failed
// SOP Sequence of the report Orthanc sends to the listener.
#include <gtest/gtest.h>

#include "commitmentlistener.h"
#include "orthanc.h"
#include "testsupport.h"

namespace {

TEST(CommitmentWithOrthanc, AnObjectOrthancDoesNotHoldIsReportedAsFailed) {
  ASSERT_TRUE(testsupport::OrthancPacs::Available()) << "Orthanc missing (scripts/setup.sh)";
  testsupport::TempDir work;
  const int callbackPort = testsupport::FreePort();
  testsupport::OrthancPacs pacs(
      work, testsupport::OrthancPacs::Options::ReportingTo("VELLORAN", callbackPort));
  ASSERT_TRUE(pacs.Running()) << testsupport::ReadFile(work / "orthanc.log");

  RemoteNode node{"VELLORAN", "ORTHANC", "127.0.0.1", pacs.Port()};
  const std::vector<CommitmentObject> objects = {
      {"1.2.840.10008.5.1.4.1.1.7", "1.2.826.0.1.3680043.2.1125.424242"}};
  CommitmentResult result;
  std::string error;
  ASSERT_TRUE(CommitObjects(node, objects, std::to_string(callbackPort), 10,
                            std::chrono::seconds(60), result, error))
      << error;
  ASSERT_EQ(result.objects.size(), 1u);
  const CommitmentOutcome& outcome = result.objects.front();
  EXPECT_FALSE(outcome.committed);
  EXPECT_EQ(outcome.sopInstanceUid, objects.front().sopInstanceUid);
  // Orthanc names its reason; what matters is that the report, not the time limit, said so.
  EXPECT_NE(outcome.failureReason, 0) << outcome.cause;
  EXPECT_EQ(outcome.cause.find("within"), std::string::npos) << outcome.cause;
}

}  // namespace
