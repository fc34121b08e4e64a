// Where a DICOMweb server is and how this program logs in to it.
#pragma once

#include <string>
#include <string_view>

enum class WebAuth { None, Basic, Bearer };

struct DicomWebServer {
  // The service root, "https://host/dicom-web"; the studies resource is {baseUrl}/studies.
  std::string baseUrl;
  WebAuth auth = WebAuth::None;
  std::string user;      // basic
  std::string password;  // basic
  std::string token;     // bearer
  // The server's certificate is checked against the system's CA certificates, or against those
  // of caFile when it is set; switching the check off is for test set-ups only.
  bool verifyCertificate = true;
  std::string caFile;
  // How long a connection may stay silent, in seconds.
  int timeoutSeconds = 60;
};

// "none", "basic", "bearer".
const char* WebAuthName(WebAuth auth);
// Reads one of those names, in any case; false for anything else.
bool ParseWebAuth(std::string_view text, WebAuth& auth);

// Empty when `url` can be a base URL (http:// or https://, a host, no query or fragment);
// otherwise the problem in plain words.
std::string BaseUrlProblem(const std::string& url);

// The URL without a user name or password written into it, for messages and logs.
std::string ShownUrl(const std::string& url);

// Empty when the server's settings can be used; otherwise the problem in plain words (a bad URL,
// a login without user or token, a time-out that is not positive).
std::string DicomWebServerProblem(const DicomWebServer& server);
