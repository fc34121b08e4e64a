// The PACS over DICOMweb as the settings name it, and the settings dialog's test of it.
#include "webpacs.h"

#include <cctype>

#include "log.h"
#include "qidors.h"

namespace {

bool SameWord(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool UsesDicomWeb(const SetupConfig& settings) {
  return SameWord(settings.remoteProtocol, kDicomWebProtocol);
}

bool WebPacs(const SetupConfig& settings, DicomWebServer& server, std::string& problem) {
  server = DicomWebServer{};
  server.baseUrl = settings.webURL;
  server.user = settings.webUser;
  server.password = settings.webPassword;
  server.token = settings.webToken;
  server.caFile = settings.webCAFile;
  server.verifyCertificate = settings.webVerify;
  server.allowPlainLogin = settings.webPlainLogin;
  if (!ParseWebAuth(settings.webAuth, server.auth)) {
    problem = "The DICOMweb login \"" + settings.webAuth + "\" is none of none, basic and bearer";
    return false;
  }
  const std::string& timeout = settings.webTimeout;
  if (timeout.empty() || timeout.size() > 6 ||
      timeout.find_first_not_of("0123456789") != std::string::npos) {
    problem = "The DICOMweb time-out \"" + timeout + "\" is not a number of seconds";
    return false;
  }
  server.timeoutSeconds = std::stoi(timeout);
  problem = DicomWebServerProblem(server);
  return problem.empty();
}

bool TestWebPacs(const SetupConfig& settings, std::string& message) {
  DicomWebServer server;
  if (!WebPacs(settings, server, message)) {
    WriteLog("ERROR, TestWebPacs, " + message);
    return false;
  }
  return TestDicomWeb(server, message);
}
