// The files of scanned pages in the work folder: scan.bmp and the saved yymmddhhnnss.jpg pages.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>

class ItemList;

// work folder + "scan.bmp": the page last scanned and not yet saved.
std::filesystem::path ScanBitmapPath(const std::filesystem::path& workFolder);

// The local time as "yymmddhhnnss".
std::string ScanFileStem(std::chrono::system_clock::time_point when);

// A name in the work folder that no file has yet, claimed by creating the file: "yymmddhhnnss.jpg",
// or for a later page of the same second "yymmddhhnnss-2.jpg", "-3" and so on, readable by the
// user alone (mode 0600). Empty, with the reason, when none can be created.
std::filesystem::path ClaimPageFileName(const std::filesystem::path& workFolder,
                                        std::chrono::system_clock::time_point when,
                                        std::string& error);

struct SavedPage {
  bool saved = false;
  std::string path;   // the JPEG file appended to the item list
  std::string error;  // why nothing was saved; empty when there was no page to save
};

// Encodes scan.bmp as a colour JPEG (baseline, quality 90, as the image converter does), writes
// it under a claimed name, appends its path to the item list and deletes scan.bmp. Without
// scan.bmp nothing happens. On failure scan.bmp stays, so the page can be saved again.
SavedPage SaveScannedPage(const std::filesystem::path& workFolder,
                          std::chrono::system_clock::time_point when, ItemList& items);

// Deletes scan.bmp if it exists.
void DeleteScanBitmap(const std::filesystem::path& workFolder);
