// Reading the print spooler (CUPS): the installed queues and the jobs waiting in one of them;
// and whether the printer application listens.
#pragma once

#include <optional>
#include <string>
#include <vector>

// What the spooler tells about one queue.
struct QueueJobs {
  std::vector<std::string> titles;        // the active jobs' titles, first job first
  std::vector<std::string> stateReasons;  // the queue's printer-state-reasons keywords
};

// The active jobs of `printerName` and its state reasons; nullopt after the log line of the cause.
std::optional<QueueJobs> GetJobs(const std::string& printerName);

// The title of the first active job of `printerName`, or "Unknown" (after a log line) when the
// queue cannot be read, reports an error or holds no job.
std::string JobDocumentName(const std::string& printerName);

// True when a state reason stands for a printer fault (a jam, no paper, offline, an open door,
// any "-error" reason); "-report" and "-warning" reasons and "none" are not faults.
bool PrinterReportsError(const std::vector<std::string>& stateReasons);

// The names of the spooler's queues; nullopt when the spooler cannot be reached or refuses.
std::optional<std::vector<std::string>> InstalledPrinterNames(std::string& cause);

// Who may print to a queue, as the spooler keeps it (lpadmin -u allow:... / deny:...).
struct QueueUsers {
  std::vector<std::string> allowed;  // empty when the queue sets no allow list
  std::vector<std::string> denied;
};

// The user lists of `printerName`; nullopt, with the cause, when the spooler does not tell.
std::optional<QueueUsers> QueueUserAccess(const std::string& printerName, std::string& cause);

// True when every user of the machine may print to a queue with these lists.
bool QueueOpenToAll(const QueueUsers& users);

// Where `printerName` sends its jobs (its device URI); nullopt, with the cause, when the spooler
// does not tell.
std::optional<std::string> QueueDeviceUri(const std::string& printerName, std::string& cause);

// True when the printer application listens at `socket` (as far as this user can tell: only
// the spooler and printer administrators may connect); otherwise false with the cause.
bool PrinterApplicationListens(const std::string& socket, std::string& cause);
