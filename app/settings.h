// The program's settings: the record `setupcfg`, its ini file, loading and saving.
#pragma once

#include <string>

#include "usermessage.h"

inline constexpr const char* kSettingsSection = "velloran";
inline constexpr const char* kSettingsFileName = "velloran.ini";

// One value per key of the "velloran" section; texts are kept as typed (ports too), in UTF-8.
struct SetupConfig {
  std::string LocalAET = "VELLORAN";
  std::string InstitutionName = "Brindlewick";
  std::string remoteAET = "PACSAET";
  std::string remoteIP = "127.0.0.1";
  std::string remotePort = "11112";
  std::string worklistAET = "WORKLIST";
  std::string worklistIP = "127.0.0.1";
  std::string worklistPort = "11112";
  std::string PrinterPort = "9100";
  // "Print capture": "application", the printer application (IPP Everywhere) that files each job
  // for the user who printed it, or "raw", the raw queue on the printer port.
  std::string printCapture = "application";
  bool Debug = false;
  bool KeepCameraJpegs = false;  // "Keep camera JPEGs as they are"
  // "Keep unsent objects in the outbox": Send puts the objects into the outbox and what the PACS
  // did not take waits there; off, Send stores the batch directly and a failure leaves the items
  // in the list.
  bool keepUnsentInOutbox = true;
  // The PACS over DICOMweb, used instead of the DICOM address above when remoteProtocol is
  // "DICOMweb": the service's base URL, the login (webAuth "none", "basic" with webUser and
  // webPassword, or "bearer" with webToken), the check of the server's certificate (against
  // webCAFile when set) and the time-out in seconds. A file holding a password or token is
  // written readable by its owner only.
  std::string remoteProtocol = "DICOM";
  std::string webURL = "http://127.0.0.1:8042/dicom-web";
  std::string webAuth = "none";
  std::string webUser;
  std::string webPassword;
  std::string webToken;
  std::string webCAFile;
  bool webVerify = true;
  std::string webTimeout = "60";
  // A basic login over http:// sends the password readable: allowed only when this is set.
  bool webPlainLogin = false;
  // Storage commitment: after storing, ask the PACS to commit the objects (N-ACTION) and take
  // its report on the same association or on commitmentPort, where the PACS calls this AE title
  // back (empty: no listener, the report must come on the same association).
  bool storageCommitment = false;
  std::string commitmentPort;
  // The window's language: empty for the desktop's own, or "en", "de", "fr", "es". It takes
  // effect at the next start; the log and velloran-cli stay English.
  std::string Language;
};

// Empty when `title` (UTF-8) can be an AE title; otherwise the message for the user. AE titles
// travel as 8-bit text, so a character Windows-1252 lacks cannot be part of one.
UserMessage AeTitleProblem(const std::string& title);

// The process-wide settings record.
extern SetupConfig setupcfg;

// velloran.ini beside the running executable, or in the per-user config folder when the
// executable's folder is not writable (see appfolders.h).
std::string DefaultSettingsPath();

// Reads every key (a missing file, section or key gives its default) into `config`. When Debug
// is on, LogLevel becomes 2. False, with the record left at the defaults, only when an existing
// file cannot be read.
bool LoadSettings(const std::string& path, SetupConfig& config);

// Writes every key into the "velloran" section, keeping the rest of the file. When Debug is
// on, LogLevel becomes 2 (switching it off takes effect at the next start). The file keeps its
// permissions, and becomes readable by its owner only when it holds a password or token. False,
// with a log line, when the file cannot be written.
bool SaveSettings(const std::string& path, const SetupConfig& config);
