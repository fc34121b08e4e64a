// The PACS over DICOMweb as the settings name it, and the settings dialog's test of it.
#pragma once

#include <string>

#include "dicomwebserver.h"
#include "settings.h"

inline constexpr const char* kDicomWebProtocol = "DICOMweb";

// True when the settings reach the PACS by DICOMweb rather than by DICOM (remoteProtocol is
// "DICOMweb", in any case).
bool UsesDicomWeb(const SetupConfig& settings);

// The DICOMweb server of the settings. False, with the problem in plain words, when the settings
// cannot be used: no usable base URL, an unknown login kind or one without user or token, a
// time-out that is not a positive number of seconds.
bool WebPacs(const SetupConfig& settings, DicomWebServer& server, std::string& problem);

// "Test" on the PACS tab for DICOMweb: a search for one study. `message` says what the server
// answered (its HTTP status and name) or what went wrong, in plain words.
bool TestWebPacs(const SetupConfig& settings, std::string& message);
