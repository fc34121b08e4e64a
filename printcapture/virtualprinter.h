// The virtual printer: the print queue whose jobs reach the capture on this machine, either raw to
// the listener on the printer port or through the printer application.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The user running this program, by name.
std::string InstallingUser();

// The queue the program keeps installed. As a raw queue its device sends to port 9100 on the
// loopback address (the listening port setting changes only the listening side); as an IPP
// Everywhere queue it prints to the printer application's socket, and the spooler converts what
// is printed into PDF. Only `user` (and root) may print to it: what others print must not join
// this user's batch.
struct VirtualPrinter {
  std::string name = "QUELLPRINT";
  std::string description = "IP_127.0.0.1";
  std::string deviceUri = "socket://127.0.0.1:9100";
  std::string user = InstallingUser();
  // The device URIs (or their beginnings) of queues of the same name that this one takes the
  // place of: those the other kind of capture made. A queue printing anywhere else is left.
  std::vector<std::string> replaces;
};

// The raw queue, taking the place of an IPP Everywhere queue to the printer application at
// `socket`.
VirtualPrinter RawVirtualPrinter(const std::filesystem::path& socket);
// The IPP Everywhere queue to the printer application at `socket`, taking the place of an
// earlier raw queue on the loopback address.
VirtualPrinter EverywhereVirtualPrinter(const std::filesystem::path& socket);

enum class PrinterInstall {
  AlreadyPresent,      // a queue of exactly this name and device exists; nothing was done
  Installed,           // the installer ran and the queue exists now
  Replaced,            // a queue of the other kind of capture was made this one
  PrintsElsewhere,     // a queue of this name prints to another device; nothing was done
  Failed,              // the installer could not be started, failed, or left no queue
  SpoolerUnavailable,  // the print spooler is missing or does not answer
};

// The arguments of lpadmin that create the queue, or turn the one it replaces into it: enabled,
// not shared, and open to the installing user and root alone. A raw queue has no driver; an IPP
// Everywhere queue asks the printer application what it takes, and takes jobs only from users
// the spooler authenticated, so nobody can print under another user's name.
enum class QueueChange { Create, Replace };
std::vector<std::string> LpadminArguments(const VirtualPrinter& printer,
                                          QueueChange change = QueueChange::Create);

// True when this process may change the spooler itself: root, or a member of the lpadmin group.
bool HasPrinterAdminRights();

// Runs `program` with `arguments` with administrative rights: directly when this process has
// them, otherwise through pkexec, and waits for its end. False when it could not be started (or
// the elevation was refused); `message` then holds "ERROR, AdminShell, Status=" + code.
// `exitCode` receives the program's exit status.
bool AdminShell(const std::string& program, const std::vector<std::string>& arguments,
                int& exitCode, std::string& message);

// Creates the queue when the spooler has none named exactly `printer.name` (case-sensitive), or
// changes one it replaces. A present queue costs three questions to the spooler and nothing else;
// when every user may print to it, the log says so (changing it needs the administrator). What
// the user must be told goes to `message`; the causes of failures are logged.
PrinterInstall InstallVirtualPrinter(const VirtualPrinter& printer, std::string& message);
