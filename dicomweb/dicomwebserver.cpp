// Where a DICOMweb server is and how this program logs in to it.
#include "dicomwebserver.h"

namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// The length of "http://" or "https://" at the start, or 0.
size_t SchemeLength(const std::string& url) {
  const std::string lower = Lower(url.substr(0, 8));
  if (lower.rfind("https://", 0) == 0) return 8;
  if (lower.rfind("http://", 0) == 0) return 7;
  return 0;
}

}  // namespace

const char* WebAuthName(WebAuth auth) {
  switch (auth) {
    case WebAuth::Basic:
      return "basic";
    case WebAuth::Bearer:
      return "bearer";
    case WebAuth::None:
      break;
  }
  return "none";
}

bool ParseWebAuth(std::string_view text, WebAuth& auth) {
  for (WebAuth candidate : {WebAuth::None, WebAuth::Basic, WebAuth::Bearer}) {
    if (Lower(text) == WebAuthName(candidate)) {
      auth = candidate;
      return true;
    }
  }
  return false;
}

std::string BaseUrlProblem(const std::string& url) {
  const size_t scheme = SchemeLength(url);
  if (scheme == 0) {
    return "The DICOMweb address \"" + ShownUrl(url) + "\" must start with https:// or http://";
  }
  const size_t hostEnd = url.find('/', scheme);
  std::string authority =
      url.substr(scheme, hostEnd == std::string::npos ? std::string::npos : hostEnd - scheme);
  const size_t at = authority.rfind('@');
  if (at != std::string::npos) authority = authority.substr(at + 1);
  if (authority.empty() || authority[0] == ':') {
    return "The DICOMweb address \"" + ShownUrl(url) + "\" names no server";
  }
  if (url.find_first_of("?# \t\r\n") != std::string::npos) {
    return "The DICOMweb address \"" + ShownUrl(url) +
           "\" must be the service root alone, without spaces, query or fragment";
  }
  return {};
}

std::string ShownUrl(const std::string& url) {
  const size_t scheme = SchemeLength(url);
  const size_t hostEnd = url.find('/', scheme);
  const size_t at = url.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
  if (scheme == 0 || at == std::string::npos || at < scheme) return url;
  return url.substr(0, scheme) + url.substr(at + 1);
}

bool SendsPasswordInTheClear(const DicomWebServer& server) {
  if (SchemeLength(server.baseUrl) != 7) return false;  // https:// (or no URL at all)
  return server.auth == WebAuth::Basic || ShownUrl(server.baseUrl) != server.baseUrl;
}

std::string PlainLoginWarning(const DicomWebServer& server) {
  return "the DICOMweb password for " + ShownUrl(server.baseUrl) +
         " travels unencrypted (http://): anyone on the network can read it";
}

std::string DicomWebServerProblem(const DicomWebServer& server) {
  std::string problem = BaseUrlProblem(server.baseUrl);
  if (!problem.empty()) return problem;
  if (SendsPasswordInTheClear(server) && !server.allowPlainLogin) {
    return "A basic login over http:// would send the password to " + ShownUrl(server.baseUrl) +
           " unencrypted; use https://, or allow it in the settings";
  }
  if (server.auth == WebAuth::Basic && server.user.empty()) {
    return "DICOMweb basic login needs a user name";
  }
  if (server.auth == WebAuth::Bearer && server.token.empty()) {
    return "DICOMweb bearer login needs a token";
  }
  if (server.timeoutSeconds <= 0)
    return "The DICOMweb time-out must be a positive number of seconds";
  return {};
}
