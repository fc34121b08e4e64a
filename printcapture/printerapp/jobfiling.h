// Filing a received print job for the user who printed it: a PDF in that user's folder of the
// spool, owned by and readable by that user alone, under a name that takes no other file's place.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// Makes `folder` (mode `mode`) when it is missing. Empty when it can be trusted: a folder of
// this process's user that nobody else may write into; otherwise why not.
std::string OwnFolderProblem(const std::filesystem::path& folder, std::filesystem::perms mode);

struct FilingResult {
  std::filesystem::path file;  // the filed job; empty when it was not filed
  std::string problem;         // why not, for the log and the job's state message
};

class JobSpool {
 public:
  // The spool folder `root` (see PrinterPlaces); a job that would leave less than
  // `minimumFreeSpace` bytes free on its disk is not filed.
  JobSpool(std::filesystem::path root, uint64_t minimumFreeSpace);

  // Copies the PDF `document` into the folder of `userName` as title_hhnnss_N.pdf (the title
  // trimmed, every character outside 0-9, A-Z, a-z and "_" made "_"; "Unknown" when empty; N
  // the job's number), or as title_hhnnss_N_2.pdf and so on when that name is taken. The file
  // appears under its name only once it is complete and on the disk. The folder is made for the
  // user when missing; one that is not the user's own alone is not written into.
  FilingResult File(const std::filesystem::path& document, const std::string& userName,
                    const std::string& title, int jobNumber, std::time_t when) const;

 private:
  std::filesystem::path root_;
  uint64_t minimumFreeSpace_;
};
