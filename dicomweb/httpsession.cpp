// HTTP(S) requests to one DICOMweb server over one kept-alive libcurl handle.
#include "httpsession.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "log.h"

namespace {

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool ContainsNoCase(std::string_view text, std::string_view lowerWord) {
  for (size_t i = 0; i + lowerWord.size() <= text.size(); ++i) {
    if (StartsWithNoCase(text.substr(i), lowerWord)) return true;
  }
  return false;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned value = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(value >> shift) & 63];
  }
  if (i < bytes.size()) {
    unsigned value = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) value |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(value >> 18) & 63];
    out += kAlphabet[(value >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(value >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// The trace of curl's own lines and the headers, for the debug log. Whatever could reveal a
// login goes: every line that carries an Authorization header (HTTP/1.1 header blocks and the
// HTTP/2 header lines curl prints as text alike), and each secret wherever else it appears.
struct TraceContext {
  std::vector<std::string> secrets;
};

void ReplaceAll(std::string& text, const std::string& secret) {
  if (secret.empty()) return;
  for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
    text.replace(at, secret.size(), "<hidden>");
  }
}

int TraceCallback(CURL*, curl_infotype type, char* data, size_t size, void* context) {
  const char* prefix = nullptr;
  switch (type) {
    case CURLINFO_TEXT:
      prefix = "* ";
      break;
    case CURLINFO_HEADER_IN:
      prefix = "< ";
      break;
    case CURLINFO_HEADER_OUT:
      prefix = "> ";
      break;
    default:
      return 0;  // bodies and TLS records are never logged
  }
  const auto& trace = *static_cast<const TraceContext*>(context);
  std::string_view block(data, size);
  while (!block.empty()) {
    const size_t end = block.find('\n');
    std::string line(block.substr(0, end));
    block = end == std::string_view::npos ? std::string_view() : block.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (ContainsNoCase(line, "authorization")) {
      const size_t colon = line.find(':');
      line = (colon == std::string::npos ? line : line.substr(0, colon)) + ": <hidden>";
    }
    for (const std::string& secret : trace.secrets) ReplaceAll(line, secret);
    WriteLog("INFO, HttpSession, " + std::string(prefix) + line);
  }
  return 0;
}

// The time-out is one of silence, as on a DICOM association: the request is given up when no
// byte has moved either way for that long, while a large upload that keeps moving may take
// longer than that in all. (curl's own low-speed limit averages over several seconds and so
// reacts late to a short time-out.) A server that sends a byte now and then is not silent, so
// every request also has a deadline: twice the time-out, and the time its body needs at the
// slowest pace a clinic's line may have.
struct SilenceWatch {
  std::chrono::steady_clock::time_point lastMove;
  std::chrono::steady_clock::time_point deadline;
  curl_off_t sent = 0;
  curl_off_t received = 0;
  std::chrono::seconds limit{60};
  bool expired = false;
  bool overdue = false;
};

// The slowest pace a request body is given time for, in bytes per second.
constexpr int64_t kSlowestBodyPace = 32 << 10;

int ProgressCallback(void* context, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto& watch = *static_cast<SilenceWatch*>(context);
  const auto now = std::chrono::steady_clock::now();
  if (sent != watch.sent || received != watch.received) {
    watch.sent = sent;
    watch.received = received;
    watch.lastMove = now;
  } else if (now - watch.lastMove >= watch.limit) {
    watch.expired = true;
    return 1;  // curl stops the transfer
  }
  if (now < watch.deadline) return 0;
  watch.overdue = true;
  return 1;
}

struct ReadContext {
  const BodyReader* body = nullptr;
  std::string error;
};

size_t ReadCallback(char* into, size_t size, size_t count, void* context) {
  auto& read = *static_cast<ReadContext*>(context);
  const long given = (*read.body)(reinterpret_cast<uint8_t*>(into), size * count, read.error);
  if (given < 0) return CURL_READFUNC_ABORT;
  return static_cast<size_t>(given);
}

size_t WriteCallback(char* data, size_t size, size_t count, void* context) {
  auto& response = *static_cast<HttpResponse*>(context);
  const size_t bytes = size * count;
  if (response.body.size() + bytes > kMaxAnswerBytes) {
    response.failure = "The DICOMweb server's answer is larger than " +
                       std::to_string(kMaxAnswerBytes >> 20) + " MiB; it was not read";
    return 0;  // curl stops the transfer
  }
  response.body.append(data, bytes);
  return bytes;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

size_t HeaderCallback(char* data, size_t size, size_t count, void* context) {
  auto& response = *static_cast<HttpResponse*>(context);
  const std::string_view line(data, size * count);
  if (StartsWithNoCase(line, "http/")) {
    // A new status line (after "100 Continue", say): the headers so far were not the answer's.
    response.contentType.clear();
    response.server.clear();
    response.location.clear();
    response.warning.clear();
  } else if (StartsWithNoCase(line, "content-type:")) {
    response.contentType = Trimmed(line.substr(13));
  } else if (StartsWithNoCase(line, "server:")) {
    response.server = Trimmed(line.substr(7));
  } else if (StartsWithNoCase(line, "location:")) {
    response.location = Trimmed(line.substr(9));
  } else if (StartsWithNoCase(line, "warning:")) {
    if (!response.warning.empty()) response.warning += "; ";
    response.warning += Trimmed(line.substr(8));
  }
  return size * count;
}

// Why no answer arrived, in plain words.
std::string TransportProblem(CURLcode code, const char* detail, const DicomWebServer& server,
                             bool& unreachable) {
  const std::string url = ShownUrl(server.baseUrl);
  const std::string cause = detail[0] != '\0' ? detail : curl_easy_strerror(code);
  unreachable = true;
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return "The DICOMweb address \"" + url + "\" cannot be used: " + cause;
    case CURLE_COULDNT_RESOLVE_HOST:
      return "The DICOMweb server's name in " + url + " is not known: " + cause;
    case CURLE_COULDNT_CONNECT:
      return "Cannot connect to the DICOMweb server at " + url + ": " + cause;
    case CURLE_PEER_FAILED_VERIFICATION:
      return "The DICOMweb server's certificate is not trusted: " + cause +
             (server.caFile.empty() ? "; give the CA file that signed it"
                                    : "; it is not signed by the CA file " + server.caFile);
    case CURLE_SSL_CACERT_BADFILE:
      return "The CA file " + server.caFile + " cannot be read: " + cause;
    case CURLE_SSL_CONNECT_ERROR:
      return "The secure connection to the DICOMweb server failed (does it speak https?): " + cause;
    case CURLE_OPERATION_TIMEDOUT:
      unreachable = false;
      return "The DICOMweb server did not answer within " + std::to_string(server.timeoutSeconds) +
             " seconds: " + cause;
    default:
      unreachable = false;
      return "The request to the DICOMweb server at " + url + " failed: " + cause;
  }
}

}  // namespace

struct HttpSession::Handle {
  CURL* curl = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  TraceContext trace;
  ~Handle() {
    if (curl != nullptr) curl_easy_cleanup(curl);
  }
};

HttpSession::HttpSession(DicomWebServer server)
    : server_(std::move(server)), handle_(std::make_unique<Handle>()) {
  InitialiseCurlOnce();
  while (!server_.baseUrl.empty() && server_.baseUrl.back() == '/') server_.baseUrl.pop_back();
  handle_->curl = curl_easy_init();
  CURL* curl = handle_->curl;
  if (curl == nullptr) return;
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, handle_->error);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Velloran");
  const long seconds = server_.timeoutSeconds > 0 ? server_.timeoutSeconds : 60;
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, seconds);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ProgressCallback);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, server_.verifyCertificate ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, server_.verifyCertificate ? 2L : 0L);
  if (!server_.caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, server_.caFile.c_str());
  // Redirects are reported rather than followed: a login must not travel to another host, and a
  // POST body cannot be sent twice.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  if (server_.auth == WebAuth::Basic) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(curl, CURLOPT_USERNAME, server_.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, server_.password.c_str());
    handle_->trace.secrets.push_back(Base64(server_.user + ":" + server_.password));
    if (server_.password.size() >= 4) handle_->trace.secrets.push_back(server_.password);
  } else if (server_.auth == WebAuth::Bearer) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));
    curl_easy_setopt(curl, CURLOPT_XOAUTH2_BEARER, server_.token.c_str());
    handle_->trace.secrets.push_back(server_.token);
  }
  if (SendsPasswordInTheClear(server_) && server_.allowPlainLogin) {
    WriteLog("WARNING, HttpSession, " + PlainLoginWarning(server_));
  }
  curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, TraceCallback);
  curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &handle_->trace);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, WriteCallback);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, HeaderCallback);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadCallback);
  // Bodies are read in large pieces: fewer calls into the body's source, fewer sends.
  curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, 1L << 20);
}

HttpSession::~HttpSession() = default;

std::string HttpSession::Escape(std::string_view value) {
  // curl reads a length of 0 as "up to the terminating zero", which a view need not have.
  if (value.empty()) return {};
  InitialiseCurlOnce();
  char* escaped = curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
  if (escaped == nullptr) return {};
  std::string text(escaped);
  curl_free(escaped);
  return text;
}

HttpResponse HttpSession::Get(const std::string& pathAndQuery, const std::string& accept) {
  return Perform(server_.baseUrl + pathAndQuery, nullptr, -1, "", accept);
}

HttpResponse HttpSession::Post(const std::string& path, const std::string& contentType,
                               const std::string& accept, const BodyReader& body, int64_t length) {
  return Perform(server_.baseUrl + path, &body, length, contentType, accept);
}

HttpResponse HttpSession::Perform(const std::string& url, const BodyReader* body, int64_t length,
                                  const std::string& contentType, const std::string& accept) {
  HttpResponse response;
  CURL* curl = handle_->curl;
  if (curl == nullptr) {
    response.failure = "The HTTP library could not be started";
    response.unreachable = true;
    return response;
  }
  if (SendsPasswordInTheClear(server_) && !server_.allowPlainLogin) {
    response.failure = DicomWebServerProblem(server_);
    response.unreachable = true;
    return response;
  }
  curl_slist* headers = nullptr;
  headers = curl_slist_append(headers, ("Accept: " + accept).c_str());
  SilenceWatch watch;
  watch.lastMove = std::chrono::steady_clock::now();
  watch.limit = std::chrono::seconds(server_.timeoutSeconds > 0 ? server_.timeoutSeconds : 60);
  const std::chrono::seconds total =
      2 * watch.limit + std::chrono::seconds(std::max<int64_t>(length, 0) / kSlowestBodyPace);
  watch.deadline = watch.lastMove + total;
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &watch);
  ReadContext read;
  if (body != nullptr) {
    read.body = body;
    headers = curl_slist_append(headers, ("Content-Type: " + contentType).c_str());
    // Without "Expect: 100-continue" the body follows the headers at once; servers that do not
    // answer that expectation would otherwise hold every request for a second.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(length < 0 ? -1 : length));
    curl_easy_setopt(curl, CURLOPT_READDATA, &read);
  } else {
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
  curl_easy_setopt(curl, CURLOPT_VERBOSE, LogLevel.load() > 1 ? 1L : 0L);
  handle_->error[0] = '\0';

  if (LogLevel.load() > 1) {
    WriteLog("INFO, HttpSession, " + std::string(body != nullptr ? "POST " : "GET ") +
             ShownUrl(url));
  }
  const CURLcode code = curl_easy_perform(curl);
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);

  if (code != CURLE_OK) {
    if (!read.error.empty()) {
      response.failure = read.error;  // the body could not be supplied
    } else if (watch.expired) {
      response.failure = "The DICOMweb server did not answer within " +
                         std::to_string(server_.timeoutSeconds) + " seconds";
    } else if (watch.overdue) {
      response.failure = "The DICOMweb server did not finish the request within " +
                         std::to_string(total.count()) + " seconds";
    } else if (response.failure.empty()) {
      response.failure = TransportProblem(code, handle_->error, server_, response.unreachable);
    }
    // An answer that was cut off is no answer to decide by.
    response.status = 0;
  }
  return response;
}
