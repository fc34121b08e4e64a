// Store and search against a scripted server that answers exactly as each case needs: reasons
// given per object, logins that must not reach the log, paging, silence.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "log.h"
#include "qidors.h"
#include "scripted_server.h"
#include "stowrs.h"
#include "syntaxes.h"
#include "testsupport.h"

namespace {

using Json = nlohmann::json;

class LogFile {
 public:
  LogFile() { SetLogTarget((folder_ / "test.log").string(), "", ""); }
  ~LogFile() {
    ReleaseLogTarget();
    LogLevel = 0;
  }
  std::string Text() const { return testsupport::ReadFile(folder_ / "test.log"); }
  bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }
  // The first error line, without the time stamp.
  std::string FirstError() const {
    const std::string text = Text();
    const size_t at = text.find("ERROR");
    return at == std::string::npos ? "" : text.substr(at, text.find('\n', at) - at);
  }

 private:
  testsupport::TempDir folder_;
};

std::unique_ptr<DcmObj> SmallObject(const std::string& uid) {
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet->AddString(0x0008, 0x0016, "1.2.840.10008.5.1.4.1.1.7");
  dataSet->AddString(0x0008, 0x0018, uid);
  dataSet->AddString(0x0010, 0x0010, "DOE^JANE");
  return dataSet;
}

// An item of the Referenced or Failed SOP Sequence, with a Warning or Failure Reason.
Json Item(const std::string& uid, const char* reasonKey, int reason) {
  return {{"00081155", {{"vr", "UI"}, {"Value", {uid}}}},
          {reasonKey, {{"vr", "US"}, {"Value", {reason}}}}};
}

Json Sequence(const std::vector<Json>& items) {
  return {{"vr", "SQ"}, {"Value", items}};
}

Json Answer(int status, const Json& body, Json headers = Json::object()) {
  return {{"status", status},
          {"body", body.is_string() ? body : Json(body.dump())},
          {"headers", headers}};
}

// One study row of a search answer.
Json Study(const std::string& uid, const std::string& name) {
  return {{"0020000D", {{"vr", "UI"}, {"Value", {uid}}}},
          {"00100010", {{"vr", "PN"}, {"Value", {{{"Alphabetic", name}}}}}}};
}

DicomWebServer Server(const std::string& url) {
  DicomWebServer server;
  server.baseUrl = url;
  server.timeoutSeconds = 10;
  return server;
}

struct Objects {
  std::vector<std::unique_ptr<DcmObj>> owned;
  std::vector<StowItem> items;
  explicit Objects(const std::vector<std::string>& uids) {
    for (const std::string& uid : uids) {
      owned.push_back(SmallObject(uid));
      items.push_back({"", owned.back().get()});
    }
  }
};

TEST(StowScripted, ReasonsPerObjectDecideAndTheRequestsAreWellFormed) {
  const std::string first = "1.2.826.0.1.3680043.10.601";
  const std::string second = "1.2.826.0.1.3680043.10.602";
  const std::string third = "1.2.826.0.1.3680043.10.603";
  const Json script = {
      {"answers",
       Json::array({Answer(202,
                           {{"00081199", Sequence({Item(first, "00081196", 0xB000)})},
                            {"00081198", Sequence({Item(second, "00081197", 0xA900)})}},
                           {{"Content-Type", "application/dicom+json"}}),
                    Answer(409, {{"00081198", Sequence({Item(third, "00081197", 0xC000)})}})})}};
  ScriptedWebServer peer(script.dump());
  ASSERT_TRUE(peer.Running());
  LogFile log;
  Objects objects({first, second, third});
  HttpSession session(Server(peer.Url()));
  std::vector<size_t> order;
  const std::vector<StoreOutcome> outcomes =
      StowRS(session, objects.items, {64u << 20, 2},
             [&](size_t index, const StoreOutcome&) { order.push_back(index); });
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].result, StoreResult::StoredWithWarning);
  EXPECT_EQ(outcomes[1].result, StoreResult::Failed);
  EXPECT_EQ(outcomes[1].status, 0xA900);
  EXPECT_EQ(outcomes[2].result, StoreResult::Failed);
  EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2}));
  EXPECT_TRUE(log.Contains("WARNING, StowRS, " + first +
                           " stored with status 0xB000 (warning: coercion of data elements)"))
      << log.Text();
  EXPECT_TRUE(
      log.Contains("ERROR, StowRS, " + second +
                   " not stored: status 0xA900 (error: data set does not match SOP class)"));
  EXPECT_TRUE(log.Contains("ERROR, StowRS, The DICOMweb server rejected 1 object (HTTP 409): " +
                           third + " status 0xC000 (error: cannot understand)"));

  // Two requests of at most two objects, each a multipart/related body of Part 10 files whose
  // length is announced.
  ASSERT_EQ(peer.RequestCount(), 2);
  const std::string request = peer.Request(1);
  EXPECT_EQ(request.rfind("POST /dicom-web/studies\n", 0), 0u) << request;
  EXPECT_NE(request.find("Content-Type: multipart/related; type=\"application/dicom\"; boundary="),
            std::string::npos);
  EXPECT_NE(request.find("Accept: application/dicom+json"), std::string::npos);
  const std::string body = peer.Body(1);
  EXPECT_NE(request.find("Content-Length: " + std::to_string(body.size()) + "\n"),
            std::string::npos)
      << request;
  EXPECT_EQ(request.find("Transfer-Encoding"), std::string::npos);
  const std::string partHeader = "Content-Type: application/dicom\r\n\r\n";
  size_t parts = 0;
  for (size_t at = body.find(partHeader); at != std::string::npos;
       at = body.find(partHeader, at + 1)) {
    ++parts;
    EXPECT_EQ(body.substr(at + partHeader.size() + 128, 4), "DICM");
  }
  EXPECT_EQ(parts, 2u);
  EXPECT_NE(peer.Body(2).find(third), std::string::npos);
}

// A refused login, a server that cannot be reached and one that falls silent end the run: the
// objects after the first request fail with the same cause without being sent.
TEST(StowScripted, ARefusalThatWouldRepeatEndsTheRunWithOneCause) {
  const struct {
    const char* name;
    Json answer;
    bool reachable;
    std::string cause;
  } rows[] = {
      {"login refused", Answer(401, "Unauthorized"), true,
       "The DICOMweb server refused the login (HTTP 401): Unauthorized"},
      {"wrong address", Answer(404, ""), true, "The DICOMweb server has nothing at "},
      {"nobody listens", Answer(200, ""), false, "Cannot connect to the DICOMweb server at "},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedWebServer peer(Json{{"answers", Json::array({row.answer})}}.dump());
    ASSERT_TRUE(peer.Running());
    LogFile log;
    Objects objects(
        {"1.2.826.0.1.3680043.10.611", "1.2.826.0.1.3680043.10.612", "1.2.826.0.1.3680043.10.613"});
    DicomWebServer server =
        Server(row.reachable
                   ? peer.Url()
                   : "http://127.0.0.1:" + std::to_string(testsupport::FreePort()) + "/dicom-web");
    server.auth = WebAuth::Basic;
    server.user = "clinic";
    server.password = "wrong";
    server.allowPlainLogin = true;
    HttpSession session(server);
    const std::vector<StoreOutcome> outcomes = StowRS(session, objects.items, {64u << 20, 1});
    for (const StoreOutcome& outcome : outcomes) {
      EXPECT_EQ(outcome.result, StoreResult::Failed);
      EXPECT_EQ(outcome.cause.rfind(row.cause, 0), 0u) << outcome.cause;
      EXPECT_EQ(outcome.cause, outcomes[0].cause);
    }
    EXPECT_EQ(peer.RequestCount(), row.reachable ? 1 : 0);
    EXPECT_EQ(log.FirstError().rfind("ERROR, StowRS, " + row.cause, 0), 0u) << log.Text();
  }
}

TEST(StowScripted, AServerThatFallsSilentIsGivenUpAfterTheTimeOut) {
  ScriptedWebServer peer(
      Json{{"answers", Json::array({Json{{"status", 200}, {"delay", 5}}})}}.dump());
  ASSERT_TRUE(peer.Running());
  Objects objects({"1.2.826.0.1.3680043.10.621"});
  DicomWebServer server = Server(peer.Url());
  server.timeoutSeconds = 1;
  HttpSession session(server);
  const std::vector<StoreOutcome> outcomes = StowRS(session, objects.items);
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].result, StoreResult::Failed);
  EXPECT_EQ(outcomes[0].cause.rfind("The DICOMweb server did not answer within 1 seconds", 0), 0u)
      << outcomes[0].cause;
}

// A server that keeps sending a byte now and then is never silent for the time-out, yet the
// request is given up at its deadline: twice the time-out for a request without a body.
TEST(StowScripted, AServerThatTricklesItsAnswerIsGivenUpAtTheDeadline) {
  ScriptedWebServer peer(
      Json{{"answers",
            Json::array({Json{{"status", 200}, {"body", std::string(60, ' ')}, {"trickle", 0.3}}})}}
          .dump());
  ASSERT_TRUE(peer.Running());
  DicomWebServer server = Server(peer.Url());
  server.timeoutSeconds = 1;
  HttpSession session(server);
  const HttpResponse response = session.Get("/studies", "application/dicom+json");
  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(response.failure, "The DICOMweb server did not finish the request within 2 seconds");
}

// A basic login over http:// would send the password readable: without the user's leave no
// request goes out at all, and with it the log and the settings dialog's Test warn.
TEST(StowScripted, ABasicLoginOverHttpGoesOnlyWithLeaveAndAWarning) {
  for (const bool allowed : {false, true}) {
    SCOPED_TRACE(allowed ? "allowed" : "not allowed");
    ScriptedWebServer peer(Json{{"answers", Json::array({Answer(204, "")})}}.dump());
    ASSERT_TRUE(peer.Running());
    LogFile log;
    DicomWebServer server = Server(peer.Url());
    server.auth = WebAuth::Basic;
    server.user = "clinic";
    server.password = "s3cret-password";
    server.allowPlainLogin = allowed;
    std::string message;
    EXPECT_EQ(TestDicomWeb(server, message), allowed) << message;
    HttpSession session(server);
    const HttpResponse response = session.Get("/studies?limit=1", "application/dicom+json");
    const std::string refusal = "A basic login over http:// would send the password to " +
                                peer.Url() +
                                " unencrypted; use https://, or allow it in the settings";
    const std::string warning = "the DICOMweb password for " + peer.Url() +
                                " travels unencrypted (http://): anyone on the network can read it";
    if (allowed) {
      EXPECT_EQ(response.status, 204);
      EXPECT_NE(message.find("\nWarning: " + warning + "."), std::string::npos) << message;
      EXPECT_TRUE(log.Contains("WARNING, HttpSession, " + warning)) << log.Text();
    } else {
      EXPECT_EQ(message, refusal);
      EXPECT_EQ(response.status, 0);
      EXPECT_EQ(response.failure, refusal);
      EXPECT_EQ(peer.RequestCount(), 0);
    }
  }
}

// With debug logging the requests and headers are traced, but neither a password nor a token
// (nor the encoded form curl sends) ever reaches the log.
TEST(StowScripted, LoginsWorkAndNoSecretReachesTheDebugLog) {
  const std::string token = "eyJhbGciOiJIUzI1NiJ9.c2VjcmV0LXRva2Vu.sig";
  const std::string basic = "Basic Y2xpbmljOnMzY3JldC1wYXNzd29yZA==";  // clinic:s3cret-password
  const struct {
    WebAuth auth;
    std::string expected;
    std::vector<std::string> secrets;
  } rows[] = {
      {WebAuth::Bearer, "Bearer " + token, {token}},
      {WebAuth::Basic, basic, {"s3cret-password", "Y2xpbmljOnMzY3JldC1wYXNzd29yZA=="}},
  };
  for (const auto& row : rows) {
    const Json stored = {
        {"00081199",
         Sequence({{{"00081155", {{"vr", "UI"}, {"Value", {"1.2.826.0.1.3680043.10.631"}}}}}})}};
    ScriptedWebServer peer(Json{
        {"answers", Json::array({Answer(200, stored), Answer(200, "")})},
        {"authorization",
         row.expected}}.dump());
    ASSERT_TRUE(peer.Running());
    LogFile log;
    LogLevel = 2;
    DicomWebServer server = Server(peer.Url());
    server.auth = row.auth;
    server.user = "clinic";
    server.password = "s3cret-password";
    server.token = token;
    server.allowPlainLogin = true;
    HttpSession session(server);
    Objects objects({"1.2.826.0.1.3680043.10.631"});
    const std::vector<StoreOutcome> outcomes = StowRS(session, objects.items);
    EXPECT_EQ(outcomes[0].result, StoreResult::Stored) << outcomes[0].cause;
    std::vector<StudyInfo> rows2;
    EXPECT_TRUE(QidoStudies(session, StudyInfo{}, rows2).complete);
    const std::string text = log.Text();
    EXPECT_NE(text.find("Authorization: <hidden>"), std::string::npos) << text;
    EXPECT_NE(text.find("POST " + peer.Url() + "/studies"), std::string::npos) << text;
    for (const std::string& secret : row.secrets) {
      EXPECT_EQ(text.find(secret), std::string::npos) << secret << "\n" << text;
    }
  }
}

TEST(QidoScripted, PagesAreReadUntilAShortOneAndRepeatsAreNotCountedTwice) {
  const Json pageOne = Json::array({Study("1.1", "A"), Study("1.2", "B")});
  const Json pageTwo = Json::array({Study("1.3", "C"), Study("1.4", "D")});
  const Json pageThree = Json::array({Study("1.5", "E")});
  const struct {
    const char* name;
    Json answers;
    std::vector<std::string> names;
    int requests;
  } rows[] = {
      {"three pages",
       Json::array({Answer(200, pageOne), Answer(200, pageTwo), Answer(200, pageThree)}),
       {"A", "B", "C", "D", "E"},
       3},
      {"a full last page, then nothing",
       Json::array({Answer(200, pageOne), Answer(204, "")}),
       {"A", "B"},
       2},
      {"a server that ignores the offset", Json::array({Answer(200, pageOne)}), {"A", "B"}, 2},
      {"a server that ignores the limit",
       Json::array(
           {Answer(200, Json::array({Study("1.1", "A"), Study("1.2", "B"), Study("1.3", "C")}))}),
       {"A", "B", "C"},
       1},
      {"a short page with a warning that more exist",
       Json::array(
           {Answer(200, Json::array({Study("1.1", "A")}),
                   {{"Warning", "299 pacs: The number of results exceeded the maximum supported"}}),
            Answer(200, Json::array())}),
       {"A"},
       2},
      {"no match", Json::array({Answer(204, "")}), {}, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedWebServer peer(Json{{"answers", row.answers}}.dump());
    ASSERT_TRUE(peer.Running());
    HttpSession session(Server(peer.Url()));
    std::vector<StudyInfo> results;
    StudyInfo query;
    query.patientName = "D*";
    const QidoResult result = QidoStudies(session, query, results, 2);
    EXPECT_TRUE(result.complete) << result.problem;
    std::vector<std::string> names;
    for (const StudyInfo& study : results) names.push_back(study.patientName);
    EXPECT_EQ(names, row.names);
    ASSERT_EQ(peer.RequestCount(), row.requests);
    EXPECT_EQ(peer.Request(1).rfind("GET /dicom-web/studies?00100010=D*&limit=2&offset=0&", 0), 0u)
        << peer.Request(1);
    if (row.requests > 1) {
      EXPECT_NE(peer.Request(2).find("&limit=2&offset=" + std::to_string(names.size() > 1 ? 2 : 1)),
                std::string::npos)
          << peer.Request(2);
    }
  }
}

// A search stops at its bound of rows while the server has more, and says so; one that ends at
// the bound exactly is complete.
TEST(QidoScripted, ASearchStopsAtItsBoundOfRowsAndSaysThereAreMore) {
  const Json pageOne = Json::array({Study("1.1", "A"), Study("1.2", "B")});
  const Json pageTwo = Json::array({Study("1.3", "C"), Study("1.4", "D")});
  const struct {
    const char* name;
    Json answers;
    size_t mostRows;
    size_t rows;
    bool more;
  } rows[] = {
      {"full pages beyond the bound", Json::array({Answer(200, pageOne), Answer(200, pageTwo)}), 3,
       3, true},
      {"a full page at the bound", Json::array({Answer(200, pageOne), Answer(200, pageTwo)}), 2, 2,
       true},
      {"a server that ignores the limit",
       Json::array(
           {Answer(200, Json::array({Study("1.1", "A"), Study("1.2", "B"), Study("1.3", "C")}))}),
       2, 2, true},
      {"the last page ends at the bound",
       Json::array({Answer(200, pageOne), Answer(200, Json::array({Study("1.3", "C")}))}), 3, 3,
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScriptedWebServer peer(Json{{"answers", row.answers}}.dump());
    ASSERT_TRUE(peer.Running());
    HttpSession session(Server(peer.Url()));
    std::vector<StudyInfo> results;
    const QidoResult result = QidoStudies(session, StudyInfo{}, results, 2, row.mostRows);
    EXPECT_EQ(results.size(), row.rows);
    EXPECT_EQ(result.moreMatches, row.more);
    EXPECT_EQ(result.complete, !row.more);
    EXPECT_EQ(result.problem, row.more ? "more matches than shown" : "");
  }
}

TEST(QidoScripted, AFailedPageKeepsTheRowsBeforeIt) {
  ScriptedWebServer peer(Json{
      {"answers", Json::array({Answer(200, Json::array({Study("1.1", "A"), Study("1.2", "B")})),
                               Answer(200, "[{\"00100010\": ")})}}
                             .dump());
  ASSERT_TRUE(peer.Running());
  LogFile log;
  HttpSession session(Server(peer.Url()));
  std::vector<StudyInfo> results;
  const QidoResult result = QidoStudies(session, StudyInfo{}, results, 2);
  EXPECT_FALSE(result.complete);
  EXPECT_EQ(result.pagesRead, 1u);
  EXPECT_EQ(results.size(), 2u);
  EXPECT_EQ(result.problem,
            "The DICOMweb server's search answer could not be read: the answer is not valid JSON");
  EXPECT_TRUE(log.Contains("ERROR, QidoRS, " + result.problem));
}

}  // namespace
