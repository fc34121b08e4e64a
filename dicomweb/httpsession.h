// HTTP(S) requests to one DICOMweb server over one kept-alive libcurl handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dicomwebserver.h"

struct HttpResponse {
  long status = 0;  // the HTTP status; 0 when no answer arrived
  std::string body;
  std::string contentType;
  std::string server;    // the Server header
  std::string location;  // the Location header of a redirect
  std::string warning;   // Warning headers, joined by "; "
  // When no answer arrived (or it could not be read whole): why, in plain words.
  std::string failure;
  // True when the failure is one that every further request would meet as well (the server
  // cannot be reached, its certificate is not trusted), so there is no point in going on.
  bool unreachable = false;
};

// Supplies a request body piece by piece: copies up to `size` bytes into `into` and returns how
// many, 0 at the end, or -1 with `error` set to stop the request.
using BodyReader = std::function<long(uint8_t* into, size_t size, std::string& error)>;

// Answers longer than this are refused: no search page or store report comes near it, and a
// server that sends without end must not fill the memory.
inline constexpr size_t kMaxAnswerBytes = 64u << 20;

class HttpSession {
 public:
  explicit HttpSession(DicomWebServer server);
  ~HttpSession();
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  const DicomWebServer& server() const { return server_; }

  // GET of {baseUrl}{pathAndQuery}, asking for `accept`.
  HttpResponse Get(const std::string& pathAndQuery, const std::string& accept);
  // POST to {baseUrl}{path} of a body of `length` bytes; a negative length means unknown, and
  // the body is then sent in chunks (over HTTP/1.1).
  HttpResponse Post(const std::string& path, const std::string& contentType,
                    const std::string& accept, const BodyReader& body, int64_t length);

  // Percent-encoding of a query parameter's value (UTF-8).
  static std::string Escape(std::string_view value);

 private:
  HttpResponse Perform(const std::string& url, const BodyReader* body, int64_t length,
                       const std::string& contentType, const std::string& accept);

  DicomWebServer server_;
  struct Handle;
  std::unique_ptr<Handle> handle_;
};
