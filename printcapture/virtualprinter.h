// The virtual printer: a raw print queue whose jobs go to the capture listener on this machine.
#pragma once

#include <string>
#include <vector>

// The user running this program, by name.
std::string InstallingUser();

// The queue the program keeps installed. The device always sends to port 9100 on the loopback
// address; the listening port setting changes only the listening side. Only `user` (and root)
// may print to it: what others print must not join this user's batch.
struct VirtualPrinter {
  std::string name = "QUELLPRINT";
  std::string description = "IP_127.0.0.1";
  std::string deviceUri = "socket://127.0.0.1:9100";
  std::string user = InstallingUser();
};

enum class PrinterInstall {
  AlreadyPresent,      // a queue of exactly this name exists; nothing was done
  Installed,           // the installer ran and the queue exists now
  Failed,              // the installer could not be started, failed, or left no queue
  SpoolerUnavailable,  // the print spooler is missing or does not answer
};

// The arguments of lpadmin that create the queue: raw (no driver), enabled, not shared, and
// open to the installing user and root alone.
std::vector<std::string> LpadminArguments(const VirtualPrinter& printer);

// True when this process may change the spooler itself: root, or a member of the lpadmin group.
bool HasPrinterAdminRights();

// Runs `program` with `arguments` with administrative rights: directly when this process has
// them, otherwise through pkexec, and waits for its end. False when it could not be started (or
// the elevation was refused); `message` then holds "ERROR, AdminShell, Status=" + code.
// `exitCode` receives the program's exit status.
bool AdminShell(const std::string& program, const std::vector<std::string>& arguments,
                int& exitCode, std::string& message);

// Creates the queue when the spooler has none named exactly `printer.name` (case-sensitive).
// A present queue costs two questions to the spooler and nothing else; when every user may print
// to it, the log says so (changing it needs the administrator). What the user must be told goes
// to `message`; the causes of failures are logged.
PrinterInstall InstallVirtualPrinter(const VirtualPrinter& printer, std::string& message);
