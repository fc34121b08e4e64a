// Installing the virtual printer with lpadmin.
#include "virtualprinter.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>
#include <thread>

#include "childprogram.h"
#include "log.h"
#include "peeruser.h"
#include "printerplaces.h"
#include "printqueue.h"

namespace {

// lpadmin itself answers within seconds; pkexec waits for the user to type a password.
constexpr std::chrono::seconds kDirectLimit{60};
constexpr std::chrono::minutes kElevatedLimit{10};

// pkexec's own statuses: the authentication dialog was dismissed, or authorisation failed.
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecNotAuthorized = 127;

// pkexec runs the program with a PATH of its own, and a user's PATH often lacks /usr/sbin.
std::string LpadminProgram() {
  for (const char* path : {"/usr/sbin/lpadmin", "/usr/bin/lpadmin"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "lpadmin";
}

// Jobs only from users the spooler authenticated (as it does for local users without asking):
// otherwise "lp -U" would print into another user's batch under that user's name.
constexpr const char* kAuthenticatedPolicy = "printer-op-policy=authenticated";

bool IsEverywhereQueue(const VirtualPrinter& printer) {
  return printer.deviceUri.starts_with("ipp://");
}

// Runs lpadmin with `arguments`; false, with `message` set for the user, when it failed.
bool RunLpadmin(const std::vector<std::string>& arguments, std::string& message) {
  int exitCode = -1;
  if (!AdminShell(LpadminProgram(), arguments, exitCode, message)) return false;
  if (exitCode != 0) {
    message = "ERROR, InstallVirtualPrinter, lpadmin Status=" + std::to_string(exitCode);
    WriteLog(message);
    return false;
  }
  return true;
}

// A queue made by an older version, or by hand, may let every user print into this user's
// batch; changing it needs the administrator, so the log tells how.
void ReportQueueOpenToAll(const VirtualPrinter& printer) {
  std::string cause;
  const std::optional<QueueUsers> users = QueueUserAccess(printer.name, cause);
  if (!users) {
    WriteLog("WARNING, InstallVirtualPrinter, " + cause);
    return;
  }
  if (!QueueOpenToAll(*users)) return;
  const std::vector<std::string> arguments = LpadminArguments(printer);
  const auto allow = std::find(arguments.begin(), arguments.end(), "-u");
  WriteLog("WARNING, InstallVirtualPrinter, every user may print to " + printer.name +
           ", so their documents join this user's items; lpadmin -p " + printer.name + " -u " +
           *std::next(allow) + " lets only " + printer.user + " and root print to it");
}

}  // namespace

std::string InstallingUser() {
  return UserName(geteuid());
}

VirtualPrinter RawVirtualPrinter(const std::filesystem::path& socket) {
  VirtualPrinter printer;
  printer.replaces = {PrinterApplicationUri(socket)};
  return printer;
}

VirtualPrinter EverywhereVirtualPrinter(const std::filesystem::path& socket) {
  VirtualPrinter printer;
  printer.description = "Velloran print capture";
  printer.deviceUri = PrinterApplicationUri(socket);
  printer.replaces = {"socket://127.0.0.1:"};
  return printer;
}

std::vector<std::string> LpadminArguments(const VirtualPrinter& printer, QueueChange change) {
  const std::string allowed = printer.user == "root" ? "root" : printer.user + ",root";
  std::vector<std::string> arguments = {"-p", printer.name, "-v", printer.deviceUri};
  if (IsEverywhereQueue(printer)) {
    arguments.insert(arguments.end(), {"-m", "everywhere", "-o", kAuthenticatedPolicy});
  } else if (change == QueueChange::Replace) {
    // The IPP Everywhere queue's driver would go on converting what is printed.
    arguments.insert(arguments.end(), {"-m", "raw"});
  }
  arguments.insert(arguments.end(), {"-D", printer.description, "-o", "printer-is-shared=false",
                                     "-u", "allow:" + allowed, "-E"});
  return arguments;
}

bool HasPrinterAdminRights() {
  if (geteuid() == 0) return true;
  const group* admins = getgrnam("lpadmin");
  if (!admins) return false;
  if (getegid() == admins->gr_gid) return true;
  const int count = getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int filled = getgroups(count, groups.data());
  if (filled < 0) return false;
  groups.resize(static_cast<size_t>(filled));
  return std::find(groups.begin(), groups.end(), admins->gr_gid) != groups.end();
}

bool AdminShell(const std::string& program, const std::vector<std::string>& arguments,
                int& exitCode, std::string& message) {
  const bool direct = HasPrinterAdminRights();
  std::vector<std::string> argv;
  if (!direct) argv.push_back("pkexec");
  argv.push_back(program);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const ProgramResult result =
      RunProgram(argv, direct ? std::chrono::milliseconds(kDirectLimit) : kElevatedLimit);
  exitCode = result.exitCode;
  int status = 0;
  if (!result.started) {
    status = result.startError;
  } else if (!direct &&
             (result.exitCode == kPkexecDismissed || result.exitCode == kPkexecNotAuthorized)) {
    status = result.exitCode;
  }
  if (status != 0) {
    message = "ERROR, AdminShell, Status=" + std::to_string(status);
    WriteLog(message + ", " + argv.front() + " " + result.Cause());
    return false;
  }
  if (!result.Succeeded()) WriteLog("ERROR, AdminShell, " + program + " " + result.Cause());
  return true;
}

PrinterInstall InstallVirtualPrinter(const VirtualPrinter& printer, std::string& message) {
  std::string cause;
  const auto names = InstalledPrinterNames(cause);
  if (!names) {
    WriteLog("ERROR, InstallVirtualPrinter, " + cause);
    return PrinterInstall::SpoolerUnavailable;
  }
  QueueChange change = QueueChange::Create;
  if (std::find(names->begin(), names->end(), printer.name) != names->end()) {
    const std::optional<std::string> device = QueueDeviceUri(printer.name, cause);
    if (!device) WriteLog("WARNING, InstallVirtualPrinter, " + cause);
    const auto replaced = [&](const std::string& start) { return device->starts_with(start); };
    if (!device || *device == printer.deviceUri) {
      ReportQueueOpenToAll(printer);
      return PrinterInstall::AlreadyPresent;
    }
    if (std::none_of(printer.replaces.begin(), printer.replaces.end(), replaced)) {
      WriteLog("WARNING, InstallVirtualPrinter, " + printer.name + " prints to " + *device +
               ", not to " + printer.deviceUri + "; it is left as it is");
      return PrinterInstall::PrintsElsewhere;
    }
    change = QueueChange::Replace;
  }
  std::vector<std::string> arguments = LpadminArguments(printer, change);
  if (!RunLpadmin(arguments, message)) {
    // A spooler whose configuration lacks the policy refuses the queue for it alone.
    const auto policy = std::find(arguments.begin(), arguments.end(), kAuthenticatedPolicy);
    if (policy == arguments.end() || message.starts_with("ERROR, AdminShell")) {
      return PrinterInstall::Failed;
    }
    arguments.erase(policy - 1, policy + 1);
    WriteLog("WARNING, InstallVirtualPrinter, the spooler refused the policy \"authenticated\"; " +
             printer.name + " is made without it, so a user can print under another's name");
    message.clear();
    if (!RunLpadmin(arguments, message)) return PrinterInstall::Failed;
  }
  // A pause before the start goes on, as after every installation.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto after = InstalledPrinterNames(cause);
  if (!after || std::find(after->begin(), after->end(), printer.name) == after->end()) {
    WriteLog("ERROR, InstallVirtualPrinter, no queue " + printer.name + " after lpadmin");
    return PrinterInstall::Failed;
  }
  if (LogLevel.load() > 1) {
    WriteLog(std::string("INFO, InstallVirtualPrinter, ") +
             (change == QueueChange::Replace ? "replaced " : "installed ") + printer.name + " on " +
             printer.deviceUri);
  }
  return change == QueueChange::Replace ? PrinterInstall::Replaced : PrinterInstall::Installed;
}
