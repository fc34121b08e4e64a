// The options of a PACS reached by DICOMweb, shared by the network verbs.
#pragma once

#include <set>
#include <string>

#include "args.h"
#include "dicomwebserver.h"
#include "settings.h"

// --dicomweb URL, --web-auth, --web-user, --web-password, --web-token, --web-ca, --web-timeout;
// the flag --web-no-verify.
std::set<std::string> WebValuedOptions(std::set<std::string> own = {});
std::set<std::string> WebFlags(std::set<std::string> own = {});

// The usage lines of those options, for the verbs' help texts.
extern const char* const kWebOptionsUsage;

// True when the PACS is to be reached by DICOMweb: --dicomweb is given, or the settings file
// says so (remoteProtocol=DICOMweb).
bool WantsDicomWeb(const ParsedArgs& parsed, const SetupConfig& settings);

// The DICOMweb server of the settings with the options applied: --web-token alone means a bearer
// login, --web-user alone a basic one. False, with `error`, when the result cannot be used or
// DICOM's TLS options were given for it.
bool WebPacsFromOptions(const ParsedArgs& parsed, const SetupConfig& settings,
                        DicomWebServer& server, std::string& error);
