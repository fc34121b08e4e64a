// Filing print jobs into the users' spool folders. The service runs as root and writes into
// folders their users own, so every step goes through descriptors and refuses links: a user
// cannot make it write anywhere but into that user's own folder.
#include "jobfiling.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "descriptor.h"
#include "jobfiles.h"
#include "printerplaces.h"

namespace {

// A very long title must not make the file name too long for the file system.
constexpr size_t kMaxTitle = 200;

std::string Cause(const std::string& step) {
  return step + ": " + std::strerror(errno);
}

struct LocalUser {
  uid_t uid;
  gid_t gid;
};

bool FindUser(const std::string& name, LocalUser& user) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) {
    return false;
  }
  user = {found->pw_uid, found->pw_gid};
  return true;
}

}  // namespace

std::string OwnFolderProblem(const std::filesystem::path& folder, std::filesystem::perms mode) {
  if (mkdir(folder.c_str(), static_cast<mode_t>(mode)) == 0) {
    // The umask may have taken bits away; the folder gets exactly what was asked.
    chmod(folder.c_str(), static_cast<mode_t>(mode));
  } else if (errno != EEXIST) {
    return Cause("making " + folder.string());
  }
  struct stat status {};
  if (lstat(folder.c_str(), &status) != 0) return Cause(folder.string());
  if (!S_ISDIR(status.st_mode)) return folder.string() + " is not a folder";
  if (status.st_uid != geteuid()) {
    return folder.string() + " belongs to user " + std::to_string(status.st_uid) + ", not to " +
           std::to_string(geteuid());
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return folder.string() + " may be written by other users";
  }
  return {};
}

JobSpool::JobSpool(std::filesystem::path root, uint64_t minimumFreeSpace)
    : root_(std::move(root)), minimumFreeSpace_(minimumFreeSpace) {}

FilingResult JobSpool::File(const std::filesystem::path& document, const std::string& userName,
                            const std::string& title, int jobNumber, std::time_t when) const {
  FilingResult result;
  LocalUser user{};
  if (!FindUser(userName, user)) {
    result.problem = "no user named \"" + userName + "\" on this computer";
    return result;
  }
  const Descriptor root(open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!root.valid()) {
    result.problem = Cause("opening the spool " + root_.string());
    return result;
  }
  const std::string folderName = UserSpoolFolder({}, user.uid).string();
  const std::filesystem::path folderPath = root_ / folderName;
  if (mkdirat(root.get(), folderName.c_str(), 0700) == 0) {
    if (fchownat(root.get(), folderName.c_str(), user.uid, user.gid, AT_SYMLINK_NOFOLLOW) != 0) {
      result.problem = Cause("giving " + folderPath.string() + " to " + userName);
      unlinkat(root.get(), folderName.c_str(), AT_REMOVEDIR);
      return result;
    }
  } else if (errno != EEXIST) {
    result.problem = Cause("making " + folderPath.string());
    return result;
  }
  const Descriptor folder(
      openat(root.get(), folderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat status {};
  if (!folder.valid() || fstat(folder.get(), &status) != 0) {
    result.problem = Cause("opening " + folderPath.string());
    return result;
  }
  // Only a folder that is the user's alone keeps the job from other eyes.
  if (status.st_uid != user.uid || (status.st_mode & 077) != 0) {
    result.problem = folderPath.string() + " is not " + userName + "'s own folder";
    return result;
  }
  struct statvfs disk {};
  std::error_code sizeError;
  const uintmax_t size = std::filesystem::file_size(document, sizeError);
  if (fstatvfs(folder.get(), &disk) == 0 && !sizeError) {
    const uint64_t free = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
    if (free < minimumFreeSpace_ || free - minimumFreeSpace_ < size) {
      result.problem = "too little free on the disk of " + folderPath.string() + " (" +
                       std::to_string(free >> 20) + " MiB)";
      return result;
    }
  }

  const std::string part = ".job-" + std::to_string(jobNumber) + "-" + std::to_string(getpid()) +
                           "-" + std::to_string(when) + ".part";
  const Descriptor file(openat(folder.get(), part.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!file.valid()) {
    result.problem = Cause("creating a file in " + folderPath.string());
    return result;
  }
  const Descriptor input(open(document.c_str(), O_RDONLY | O_CLOEXEC));
  const bool written = input.valid() && fchown(file.get(), user.uid, user.gid) == 0 &&
                       CopyAll(input.get(), file.get()) && fsync(file.get()) == 0;
  if (!written) {
    result.problem = Cause("copying " + document.string() + " into " + folderPath.string());
    unlinkat(folder.get(), part.c_str(), 0);
    return result;
  }
  std::string name = SanitizeDocumentName(TrimDocumentName(title));
  if (name.size() > kMaxTitle) name.resize(kMaxTitle);
  if (name.empty()) name = "Unknown";
  const std::string filed = LinkUnderFreeName(folder.get(), part, folder.get(),
                                              PdfJobFileName(name, TimeOfDayText(when), jobNumber));
  if (filed.empty()) {
    result.problem = Cause("naming the job in " + folderPath.string());
    unlinkat(folder.get(), part.c_str(), 0);
    return result;
  }
  unlinkat(folder.get(), part.c_str(), 0);
  fsync(folder.get());
  result.file = folderPath / filed;
  return result;
}
