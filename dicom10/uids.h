// Fixed knowledge about UIDs: the organisation root, the batch UID builder and the class lists.
#pragma once

#include <string>
#include <string_view>

// The organisation UID root (26 characters) on which every UID this system makes is built.
inline constexpr const char* kOrganisationUidRoot = "2.25.186492035740155963118";

// The batch UID: root, product code, installation, accession, patient, date and time, cleaned to
// digits and dots. Empty when the Patient ID is empty.
std::string GenerateUid(std::string_view installationId, std::string_view patientId,
                        std::string_view accessionNumber, std::string_view studyDate,
                        std::string_view studyTime, std::string_view productCode);

bool TransferSyntaxSupported(std::string_view uid);
bool IsImageStorageClass(std::string_view uid);
bool IsWaveformClass(std::string_view uid);

// YYYYMMDD as MM/DD/YYYY for a United States locale, DD/MM/YYYY otherwise; "" for "".
std::string DicomDateToDisplay(std::string_view date);
// Same, with the country given rather than taken from the locale.
std::string DicomDateToDisplay(std::string_view date, std::string_view country);
// The country of the user's locale (LC_ALL, LC_TIME, LANG): "United States" for territory US.
std::string LocaleCountryName();

// The program's own version as major.minor.release. On this platform the version is compiled in
// rather than read from the executable, so `path` only has to name an existing file.
std::string FileVersionText(const std::string& path);

// Descriptive name of a UID for dumps; empty when unknown.
std::string_view UidName(std::string_view uid);
