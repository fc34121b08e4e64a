// Sending a converted batch to DCMTK's storescp: one association per kind, progress over the batch.
#include "send.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "dcmtk_peer.h"
#include "testsupport.h"

namespace {

constexpr const char* kPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";

TEST(SendLists, ProgressCountsTheObjectsOfTheWholeBatch) {
  ASSERT_TRUE(testsupport::HaveProgram("storescp"))
      << "storescp missing (scripts/setup.sh installs it)";
  testsupport::TempDir folder;
  dcmtkpeer::StoreSCP peer(folder.path(), {"1.2.840.10008.5.1.4.1.1.7", kPdfClass},
                           {kExplicitVRLittleEndian, kImplicitVRLittleEndian});
  ASSERT_TRUE(peer.Running());
  BatchLists lists;
  lists.images.push_back(dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.301", 8, 8));
  lists.images.push_back(dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.302", 8, 8));
  auto pdf = std::make_unique<DcmObj>();
  pdf->SetTransferSyntax(kExplicitVRLittleEndian);
  pdf->AddString(0x0008, 0x0016, kPdfClass);
  pdf->AddString(0x0008, 0x0018, "1.2.826.0.1.3680043.10.303");
  pdf->AddString(0x0010, 0x0010, "DOE^JANE");
  lists.pdfs.push_back(std::move(pdf));

  RemoteNode pacs;
  pacs.callingAet = "VELLORAN";
  pacs.calledAet = "STORESCP";
  pacs.host = "127.0.0.1";
  pacs.port = peer.Port();
  // Two associations (images, then the PDF), numbered as one run of three objects.
  std::vector<std::pair<size_t, size_t>> places;
  ASSERT_TRUE(SendLists(lists, pacs, [&](const DcmObj&, size_t index, size_t total, bool stored) {
    EXPECT_TRUE(stored);
    places.emplace_back(index, total);
  }));
  EXPECT_EQ(places, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {1, 3}, {2, 3}}));
  EXPECT_EQ(peer.Received().size(), 3u);
  EXPECT_TRUE(lists.images.empty() && lists.pdfs.empty());
}

}  // namespace
