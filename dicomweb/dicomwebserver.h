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
  // A basic login over http:// sends the password readable to anyone on the way: refused unless
  // the user allows it (a server on this computer, say).
  bool allowPlainLogin = false;
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

// True when a password would travel unencrypted: a basic login (or a user written into the URL)
// over http://.
bool SendsPasswordInTheClear(const DicomWebServer& server);

// The warning logged, and shown by the settings dialog's Test, while such a login is allowed.
std::string PlainLoginWarning(const DicomWebServer& server);

// Empty when the server's settings can be used; otherwise the problem in plain words (a bad URL,
// a login without user or token, a time-out that is not positive, a password that would travel
// unencrypted without the user's leave).
std::string DicomWebServerProblem(const DicomWebServer& server);
