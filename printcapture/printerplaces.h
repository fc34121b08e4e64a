// Where the printer application listens and files the jobs it receives: the service and the
// window agree on these places, and on how a job is copied and takes a name without replacing
// another.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

struct PrinterPlaces {
  // The printer application's IPP socket. Its folder belongs to root, so no other user can put
  // a socket of theirs in its place.
  std::filesystem::path socket = "/run/velloran-printer/printer.sock";
  // The jobs received, one folder per user (named by the user's number, readable by that user
  // alone), until that user's window takes them.
  std::filesystem::path spool = "/var/spool/velloran";
};

// The device URI of a CUPS queue that prints to the printer application listening at `socket`:
// ipp://%2Frun%2Fvelloran-printer%2Fprinter.sock/ipp/print.
std::string PrinterApplicationUri(const std::filesystem::path& socket);

// The folder of `spool` holding the jobs of `user`.
std::filesystem::path UserSpoolFolder(const std::filesystem::path& spool, uid_t user);

// Links the file `from` of the folder open as `fromFolder` into the folder open as `toFolder`
// under `name`, or under the first free one of name_2, name_3, ... (the number before the
// extension) when that is taken, so that no file is ever replaced. Returns the name taken;
// empty, with errno set, when linking failed (EXDEV: the folders are on different disks).
std::string LinkUnderFreeName(int fromFolder, const std::string& from, int toFolder,
                              const std::string& name);

// Copies all that can be read from the descriptor `from` into `to`; false, with errno set, when
// reading or writing failed.
bool CopyAll(int from, int to);
