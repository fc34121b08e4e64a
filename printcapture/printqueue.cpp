// Spooler queries over IPP through libcups, each on its own connection with a time limit so
// that a spooler that stops answering cannot hold a receiving thread.
#include "printqueue.h"

#include <cups/cups.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "log.h"

namespace {

constexpr int kConnectMilliseconds = 5000;
constexpr double kAnswerSeconds = 10.0;

// Giving up is the only answer to a spooler that exceeds the time limit.
int AbandonWait(http_t*, void*) {
  return 0;
}

class SpoolerConnection {
 public:
  SpoolerConnection()
      : http_(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                           kConnectMilliseconds, nullptr)) {
    if (http_) httpSetTimeout(http_, kAnswerSeconds, AbandonWait, nullptr);
  }
  ~SpoolerConnection() {
    if (http_) httpClose(http_);
  }
  SpoolerConnection(const SpoolerConnection&) = delete;
  SpoolerConnection& operator=(const SpoolerConnection&) = delete;
  http_t* get() const { return http_; }

 private:
  http_t* http_;
};

std::string PrinterUri(const std::string& printerName) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                   "/printers/%s", printerName.c_str());
  return uri;
}

std::string Hex8(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

bool Failed(ipp_t* response) {
  return response == nullptr || ippGetStatusCode(response) > IPP_STATUS_OK_CONFLICTING;
}

// The queue's state reasons; nullopt when the spooler does not know the queue.
std::optional<std::vector<std::string>> OpenPrinter(http_t* http, const std::string& printerName) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(printerName).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-state-reasons");
  ipp_t* response = cupsDoRequest(http, request, "/");
  if (Failed(response)) {
    ippDelete(response);
    return std::nullopt;
  }
  std::vector<std::string> reasons;
  if (ipp_attribute_t* attribute =
          ippFindAttribute(response, "printer-state-reasons", IPP_TAG_KEYWORD)) {
    for (int i = 0; i < ippGetCount(attribute); ++i) {
      reasons.emplace_back(ippGetString(attribute, i, nullptr));
    }
  }
  ippDelete(response);
  return reasons;
}

}  // namespace

bool PrinterReportsError(const std::vector<std::string>& stateReasons) {
  // The keywords that stand for the faults a print queue can report on its own.
  static constexpr std::array<std::string_view, 11> kFaults = {
      "media-jam",        "media-empty",         "media-needed",   "offline",
      "toner-empty",      "door-open",           "cover-open",     "shutdown",
      "output-area-full", "marker-supply-empty", "spool-area-full"};
  for (std::string_view reason : stateReasons) {
    if (reason.ends_with("-report") || reason.ends_with("-warning")) continue;
    if (reason.ends_with("-error")) return true;
    for (std::string_view fault : kFaults) {
      if (reason == fault) return true;
    }
  }
  return false;
}

std::optional<QueueJobs> GetJobs(const std::string& printerName) {
  SpoolerConnection connection;
  if (!connection.get()) {
    WriteLog("ERROR, GetJobs, Can't Open Printer, " + printerName + ", 0x" +
             Hex8(IPP_STATUS_ERROR_SERVICE_UNAVAILABLE));
    return std::nullopt;
  }
  std::optional<std::vector<std::string>> reasons = OpenPrinter(connection.get(), printerName);
  if (!reasons) {
    WriteLog("ERROR, GetJobs, Can't Open Printer, " + printerName + ", 0x" +
             Hex8(static_cast<unsigned>(cupsLastError())));
    return std::nullopt;
  }
  cups_job_t* jobs = nullptr;
  const int count =
      cupsGetJobs2(connection.get(), &jobs, printerName.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
  if (count < 0) {
    WriteLog("ERROR, GetJobs, Failure to list Jobs");
    return std::nullopt;
  }
  QueueJobs result;
  result.stateReasons = std::move(*reasons);
  for (int i = 0; i < count; ++i) result.titles.emplace_back(jobs[i].title ? jobs[i].title : "");
  cupsFreeJobs(count, jobs);
  return result;
}

std::string JobDocumentName(const std::string& printerName) {
  const std::optional<QueueJobs> queue = GetJobs(printerName);
  if (!queue) return "Unknown";
  if (PrinterReportsError(queue->stateReasons)) {
    WriteLog("ERROR, GetJobs, Printer reports an error Status");
    return "Unknown";
  }
  if (queue->titles.empty()) {
    WriteLog("ERROR, GetJobs, No Jobs in this queue");
    return "Unknown";
  }
  return queue->titles.front();
}

std::optional<std::vector<std::string>> InstalledPrinterNames(std::string& cause) {
  SpoolerConnection connection;
  if (!connection.get()) {
    cause = std::string("no print spooler answers at ") + cupsServer();
    return std::nullopt;
  }
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
               "printer-name");
  ipp_t* response = cupsDoRequest(connection.get(), request, "/");
  // An empty spooler answers "not found"; that is a list without names.
  if (response && ippGetStatusCode(response) == IPP_STATUS_ERROR_NOT_FOUND) {
    ippDelete(response);
    return std::vector<std::string>{};
  }
  if (Failed(response)) {
    cause = std::string("the print spooler refused the printer list: ") + cupsLastErrorString();
    ippDelete(response);
    return std::nullopt;
  }
  std::vector<std::string> names;
  for (ipp_attribute_t* attribute = ippFirstAttribute(response); attribute;
       attribute = ippNextAttribute(response)) {
    const char* name = ippGetName(attribute);
    if (name && std::string_view(name) == "printer-name" &&
        ippGetValueTag(attribute) == IPP_TAG_NAME) {
      names.emplace_back(ippGetString(attribute, 0, nullptr));
    }
  }
  ippDelete(response);
  return names;
}

namespace {

// The attributes `wanted` of the spooler's queue `printerName`; null, with the cause, when the
// spooler does not answer or does not know the queue. The caller deletes the answer.
ipp_t* DescribeQueue(const std::string& printerName, const std::vector<const char*>& wanted,
                     std::string& cause) {
  SpoolerConnection connection;
  if (!connection.get()) {
    cause = std::string("no print spooler answers at ") + cupsServer();
    return nullptr;
  }
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(printerName).c_str());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(wanted.size()), nullptr, wanted.data());
  ipp_t* response = cupsDoRequest(connection.get(), request, "/");
  if (Failed(response)) {
    cause = std::string("the print spooler did not describe ") + printerName + ": " +
            cupsLastErrorString();
    ippDelete(response);
    return nullptr;
  }
  return response;
}

}  // namespace

std::optional<QueueUsers> QueueUserAccess(const std::string& printerName, std::string& cause) {
  ipp_t* response = DescribeQueue(
      printerName, {"requesting-user-name-allowed", "requesting-user-name-denied"}, cause);
  if (!response) return std::nullopt;
  QueueUsers users;
  auto read = [response](const char* name, std::vector<std::string>& into) {
    if (ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO)) {
      for (int i = 0; i < ippGetCount(attribute); ++i) {
        if (const char* value = ippGetString(attribute, i, nullptr)) into.emplace_back(value);
      }
    }
  };
  read("requesting-user-name-allowed", users.allowed);
  read("requesting-user-name-denied", users.denied);
  ippDelete(response);
  return users;
}

bool QueueOpenToAll(const QueueUsers& users) {
  auto has = [](const std::vector<std::string>& list, std::string_view name) {
    for (const std::string& entry : list) {
      if (entry == name) return true;
    }
    return false;
  };
  if (has(users.denied, "all")) return false;
  return users.allowed.empty() || has(users.allowed, "all");
}

std::optional<std::string> QueueDeviceUri(const std::string& printerName, std::string& cause) {
  ipp_t* response = DescribeQueue(printerName, {"device-uri"}, cause);
  if (!response) return std::nullopt;
  std::optional<std::string> uri;
  if (ipp_attribute_t* attribute = ippFindAttribute(response, "device-uri", IPP_TAG_URI)) {
    uri = ippGetString(attribute, 0, nullptr);
  } else {
    cause = "the print spooler keeps no device for " + printerName;
  }
  ippDelete(response);
  return uri;
}

bool PrinterApplicationListens(const std::string& socket, std::string& cause) {
  struct stat status {};
  if (stat(socket.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode)) {
    cause = "no socket at " + socket;
    return false;
  }
  sockaddr_un address{};
  if (socket.size() >= sizeof address.sun_path) {
    cause = "the socket's path is too long: " + socket;
    return false;
  }
  address.sun_family = AF_UNIX;
  std::copy(socket.begin(), socket.end(), address.sun_path);
  const int handle = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int connected =
      handle < 0 ? -1 : connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
  const int error = errno;
  if (handle >= 0) close(handle);
  // A user who may not connect learns no more than that the socket is there.
  if (connected == 0 || error == EACCES) return true;
  cause = "nothing listens at " + socket + ": " + std::strerror(error);
  return false;
}
