// Delivering the outbox by STOW-RS to servers that answer badly: an answer that does not name
// the object never counts as stored, and a gateway's size limit splits the request down to single
// objects, failing only the one it refuses on its own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <set>

#include "dcmtk_peer.h"
#include "orthanc.h"
#include "outbox_testing.h"
#include "outboxworkfiles.h"
#include "scripted_server.h"
#include "sendoutbox.h"
#include "testpictures.h"
#include "testsupport.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using outboxtesting::OpenedOutbox;
using testsupport::TempDir;

PacsTarget WebTarget(const std::string& url) {
  PacsTarget target;
  target.useWeb = true;
  target.web.baseUrl = url;
  target.web.timeoutSeconds = 30;
  return target;
}

// A scanned page in the work folder goes to a server that says 200 without naming it (a web page,
// nothing at all, unrelated JSON): the Send fails, the object waits in the outbox with the cause,
// and neither it nor the scan is deleted.
TEST(OutboxWeb, AnAnswerThatDoesNotNameTheObjectLeavesItWaitingAndTheScanInPlace) {
  const struct {
    const char* body;
    const char* contentType;
    const char* cause;
  } rows[] = {
      {"<html><body>Welcome</body></html>", "text/html",
       "the server's answer did not confirm the object: text/html"},
      {"", "", "the server's answer did not confirm the object: an empty answer"},
      {R"({"result": "ok"})", "application/json",
       "the server's answer did not confirm the object: application/json"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.contentType);
    TempDir dir;
    const fs::path work = dir / "work";
    fs::create_directories(work);
    const std::string scan = (work / "scan_0001.png").string();
    testsupport::WriteFile(scan, testpictures::MakePng(32, 16, testpictures::PngKind::Rgb));
    Json headers = Json::object();
    if (*row.contentType != '\0') headers["Content-Type"] = row.contentType;
    ScriptedWebServer server(
        Json{{"answers", {{{"status", 200}, {"body", row.body}, {"headers", headers}}}}}.dump());
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(outboxtesting::PrepareRoeBatch(1));
    Outbox outbox = OpenedOutbox(dir);
    const OutboxSendResult result = SendPreparedThroughOutbox(
        {scan}, outbox, WebTarget(server.Url()), OutboxSendMode::QueueAndDeliver);
    RemoveDeliveredWorkFiles(outbox, result.delivery, work);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message.English(),
              "1 object waits in the outbox and will be sent again: " + std::string(row.cause));
    EXPECT_TRUE(fs::exists(scan));
    const std::vector<OutboxEntry> left = outbox.Entries();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].state, OutboxState::Waiting);
    EXPECT_EQ(left[0].cause, row.cause);
    EXPECT_TRUE(fs::exists(outbox.PathOf(left[0])));
  }
}

// Four objects of about 300 KB and one of 1.3 MB behind a gateway that refuses requests over
// 1 MiB: the request is split until the four arrive, and the large one, refused on its own, is
// failed with the gateway's reason instead of holding the rest.
TEST(OutboxWeb, AGatewaySizeLimitSplitsTheRequestAndFailsOnlyTheObjectItRefusesAlone) {
  ASSERT_TRUE(testsupport::OrthancPacs::DicomWebAvailable())
      << "Orthanc or its DICOMweb plugin missing (scripts/setup.sh installs them)";
  TempDir orthancWork;
  testsupport::OrthancPacs::Options options;
  options.dicomWeb = true;
  testsupport::OrthancPacs orthanc(orthancWork, options);
  ASSERT_TRUE(orthanc.Running());
  const std::string orthancRoot = orthanc.WebUrl().substr(0, orthanc.WebUrl().rfind('/'));
  ScriptedWebServer gateway(
      Json{{"answers", {{{"forward", orthancRoot}, {"largest", 1 << 20}}}}}.dump());
  ASSERT_TRUE(gateway.Running());
  TempDir dir;
  Outbox outbox = OpenedOutbox(dir);
  std::set<std::string> small;
  std::string error;
  for (int n = 1; n <= 4; ++n) {
    const std::string uid = "1.2.826.0.1.3680043.10.45" + std::to_string(n);
    ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(uid, 550, 550), {"B"}, error)) << error;
    small.insert(uid);
  }
  const std::string large = "1.2.826.0.1.3680043.10.459";
  ASSERT_TRUE(outbox.Add(*dcmtkpeer::NativeImage(large, 1200, 1100), {"B"}, error)) << error;

  const DeliveryReport report = DeliverOutbox(outbox, WebTarget(gateway.Url()));
  EXPECT_EQ(report.delivered, 4u) << report.cause;
  EXPECT_EQ(report.failed, 1u);
  const std::multiset<std::string> stored = orthanc.InstanceUids();
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), small);
  const std::vector<OutboxEntry> left = outbox.Entries();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(left[0].sopInstanceUid, large);
  EXPECT_EQ(left[0].state, OutboxState::Failed);
  EXPECT_EQ(left[0].cause, "The DICOMweb server refused the request as too large (HTTP 413)");
}

}  // namespace
