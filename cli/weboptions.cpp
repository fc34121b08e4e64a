// The options of a PACS reached by DICOMweb, shared by the network verbs.
#include "weboptions.h"

#include "webpacs.h"

const char* const kWebOptionsUsage =
    "The PACS is reached by DICOMweb when --dicomweb is given or the settings file says so\n"
    "(remoteProtocol=DICOMweb, with webURL, webAuth, webUser, webPassword, webToken, webCAFile,\n"
    "webVerify, webTimeout, webPlainLogin); each setting can be overridden:\n"
    "  --dicomweb URL       the service's base URL (https://host/dicom-web)\n"
    "  --web-auth KIND      none, basic or bearer\n"
    "  --web-user USER      --web-password PASSWORD   basic login (implies --web-auth basic)\n"
    "  --web-token TOKEN    bearer login (implies --web-auth bearer)\n"
    "  --web-ca CAFILE      check the server's certificate against these CA certificates\n"
    "  --web-no-verify      do not check the server's certificate (test set-ups only)\n"
    "  --web-timeout SEC    give up after this many seconds without an answer\n"
    "  --web-plain-login    allow a basic login over http://, whose password travels\n"
    "                       unencrypted (refused otherwise)\n"
    "A password or token given here is visible to other users of this computer while the\n"
    "command runs; the settings file (readable by its owner only) keeps it out of sight.\n";

std::set<std::string> WebValuedOptions(std::set<std::string> own) {
  own.insert(
      {"dicomweb", "web-auth", "web-user", "web-password", "web-token", "web-ca", "web-timeout"});
  return own;
}

std::set<std::string> WebFlags(std::set<std::string> own) {
  own.insert({"web-no-verify", "web-plain-login"});
  return own;
}

bool WantsDicomWeb(const ParsedArgs& parsed, const SetupConfig& settings) {
  return parsed.Has("dicomweb") || UsesDicomWeb(settings);
}

bool WebPacsFromOptions(const ParsedArgs& parsed, const SetupConfig& settings,
                        DicomWebServer& server, std::string& error) {
  if (parsed.Has("tls")) {
    error = "--tls, --cert, --key and --verify are for DICOM; for DICOMweb use --web-ca";
    return false;
  }
  SetupConfig web = settings;
  web.webURL = parsed.ValueOr("dicomweb", web.webURL);
  web.webUser = parsed.ValueOr("web-user", web.webUser);
  web.webPassword = parsed.ValueOr("web-password", web.webPassword);
  web.webToken = parsed.ValueOr("web-token", web.webToken);
  web.webCAFile = parsed.ValueOr("web-ca", web.webCAFile);
  web.webTimeout = parsed.ValueOr("web-timeout", web.webTimeout);
  if (parsed.Has("web-no-verify")) web.webVerify = false;
  if (parsed.Has("web-plain-login")) web.webPlainLogin = true;
  if (parsed.Has("web-auth")) {
    web.webAuth = parsed.ValueOr("web-auth", "");
  } else if (parsed.Has("web-token")) {
    web.webAuth = "bearer";
  } else if (parsed.Has("web-user")) {
    web.webAuth = "basic";
  }
  return WebPacs(web, server, error);
}
