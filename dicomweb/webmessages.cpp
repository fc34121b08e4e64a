// What a DICOMweb server's HTTP status means, in words a user can act on.
#include "webmessages.h"

namespace {

std::string Code(long status) {
  return "(HTTP " + std::to_string(status) + ")";
}

}  // namespace

bool IsHttpSuccess(long status) {
  return status >= 200 && status < 300;
}

bool HttpStatusStopsTheRun(long status) {
  return status == 401 || status == 403 || status == 404 || status == 405 || status == 406 ||
         status == 415 || (status >= 300 && status < 400);
}

std::string ServerText(const HttpResponse& response) {
  const std::string& body = response.body;
  size_t start = body.find_first_not_of(" \t\r\n");
  if (start == std::string::npos) return {};
  if (body[start] == '{' || body[start] == '[' || body[start] == '<') return {};
  std::string line;
  for (size_t i = start; i < body.size() && body[i] != '\n' && body[i] != '\r'; ++i) {
    const auto byte = static_cast<unsigned char>(body[i]);
    if (byte < 0x20 && byte != '\t') return {};  // binary, not a message
    line += body[i];
    if (line.size() >= 160) break;
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
  return line;
}

std::string HttpStatusProblem(const HttpResponse& response, WebAction action,
                              const DicomWebServer& server) {
  const long status = response.status;
  const std::string what = action == WebAction::Store ? "store objects" : "search";
  const std::string service = action == WebAction::Store ? "STOW-RS" : "QIDO-RS";
  const std::string studies = ShownUrl(server.baseUrl) + "/studies";
  std::string problem;
  if (status >= 300 && status < 400) {
    problem = "The DICOMweb server sends this program elsewhere " + Code(status) +
              (response.location.empty() ? std::string() : ", to " + ShownUrl(response.location)) +
              "; set the address it names as the base URL";
  } else if (status == 400) {
    problem = "The DICOMweb server could not read the request " + Code(status);
  } else if (status == 401) {
    problem = server.auth == WebAuth::None
                  ? "The DICOMweb server asks for a login " + Code(status) +
                        "; set a user and password, or a token"
                  : "The DICOMweb server refused the login " + Code(status);
  } else if (status == 403) {
    problem = "The DICOMweb server does not allow this login to " + what + " " + Code(status);
  } else if (status == 404) {
    problem = "The DICOMweb server has nothing at " + studies + " " + Code(status) +
              "; check the base URL";
  } else if (status == 405) {
    problem =
        "The DICOMweb server does not offer " + service + " at " + studies + " " + Code(status);
  } else if (status == 406) {
    problem = "The DICOMweb server cannot answer in DICOM JSON " + Code(status);
  } else if (status == 409) {
    problem = "The DICOMweb server rejected the objects " + Code(status);
  } else if (status == 413) {
    problem = "The DICOMweb server refused the request as too large " + Code(status);
  } else if (status == 415) {
    problem = "The DICOMweb server does not accept DICOM objects in this form " + Code(status);
  } else if (status == 429) {
    problem = "The DICOMweb server is busy and asks to wait " + Code(status);
  } else if (status == 502 || status == 503 || status == 504) {
    problem = "The DICOMweb server is not available " + Code(status);
  } else if (status >= 500) {
    problem = "The DICOMweb server failed " + Code(status);
  } else {
    problem = "The DICOMweb server answered " + Code(status);
  }
  const std::string text = ServerText(response);
  return text.empty() ? problem : problem + ": " + text;
}
