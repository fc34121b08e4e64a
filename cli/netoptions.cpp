// The settings, log and progress handling shared by the network verbs.
#include "netoptions.h"

#include <unistd.h>

#include <cstdio>

#include "appfolders.h"
#include "log.h"
#include "send.h"

const char* const kNetworkOptionsUsage =
    "Network settings come from the settings file (section \"velloran\"; see velloran-cli\n"
    "--help for where it is), or the file --ini names, and each can be overridden:\n"
    "  --aet AET            this side's AE title (LocalAET)\n"
    "  --pacs-aet AET       --pacs-host HOST   --pacs-port PORT    the PACS\n"
    "  --wl-aet AET         --wl-host HOST     --wl-port PORT      the worklist server\n"
    "  --tls                run the association over TLS\n"
    "  --cert FILE          --key FILE         client certificate and key (PEM) for TLS\n"
    "  --verify CAFILE      check the peer's certificate against these CA certificates\n"
    "  --log FILE           the log file (default: yyyymmdd_doc.log in the logs folder)\n";

namespace {

// Today's log in the program's logs folder: beside a copy run from a writable folder, per user
// for an installed one (never beside /usr/bin).
std::string DefaultLogPath() {
  const AppFolders& folders = ThisProgramFolders();
  CreateAppFolders(folders);
  return DailyLogFile(folders);
}

RemoteNode WithTls(RemoteNode node, const ParsedArgs& parsed) {
  node.useTls = parsed.Has("tls");
  node.certificateFile = parsed.ValueOr("cert", "");
  node.keyFile = parsed.ValueOr("key", "");
  node.caFile = parsed.ValueOr("verify", "");
  return node;
}

}  // namespace

std::set<std::string> NetworkValuedOptions(std::set<std::string> own) {
  own.insert({"aet", "pacs-aet", "pacs-host", "pacs-port", "wl-aet", "wl-host", "wl-port", "cert",
              "key", "verify", "ini", "log"});
  return own;
}

std::set<std::string> NetworkFlags(std::set<std::string> own) {
  own.insert("tls");
  return own;
}

bool LoadNetworkSettings(const ParsedArgs& parsed, SetupConfig& settings, std::string& error) {
  if (!parsed.Has("tls") && (parsed.Has("cert") || parsed.Has("key") || parsed.Has("verify"))) {
    error = "--cert, --key and --verify need --tls";
    return false;
  }
  const std::string iniPath = parsed.ValueOr("ini", DefaultSettingsPath());
  if (!LoadSettings(iniPath, settings)) {
    error = "cannot read the settings file " + iniPath;
    return false;
  }
  settings.LocalAET = parsed.ValueOr("aet", settings.LocalAET);
  settings.remoteAET = parsed.ValueOr("pacs-aet", settings.remoteAET);
  settings.remoteIP = parsed.ValueOr("pacs-host", settings.remoteIP);
  settings.remotePort = parsed.ValueOr("pacs-port", settings.remotePort);
  settings.worklistAET = parsed.ValueOr("wl-aet", settings.worklistAET);
  settings.worklistIP = parsed.ValueOr("wl-host", settings.worklistIP);
  settings.worklistPort = parsed.ValueOr("wl-port", settings.worklistPort);
  for (const std::string* title :
       {&settings.LocalAET, &settings.remoteAET, &settings.worklistAET}) {
    error = AeTitleProblem(*title).English();
    if (!error.empty()) return false;
  }
  SetLogTarget(parsed.ValueOr("log", DefaultLogPath()), "", "");
  return true;
}

RemoteNode PacsFromOptions(const ParsedArgs& parsed, const SetupConfig& settings) {
  return WithTls(PacsNode(settings), parsed);
}

RemoteNode WorklistFromOptions(const ParsedArgs& parsed, const SetupConfig& settings) {
  return WithTls(WorklistNode(settings), parsed);
}

ProgressLine::ProgressLine() {
  if (isatty(STDERR_FILENO) != 0) {
    stream_ = stderr;
  } else if (isatty(STDOUT_FILENO) != 0) {
    stream_ = stdout;
  }
}

ProgressLine::~ProgressLine() {
  Finish();
}

void ProgressLine::Finish() {
  if (shown_) std::fputc('\n', stream_);
  shown_ = false;
}

void ProgressLine::Show(size_t done, size_t total, const std::string& text) {
  if (stream_ == nullptr) return;
  std::fprintf(stream_, "\r\033[K[%zu/%zu] %s", done, total, text.c_str());
  std::fflush(stream_);
  shown_ = true;
}
