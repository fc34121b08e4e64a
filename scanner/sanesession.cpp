// sane_init/sane_exit counted across users, and device handles that close themselves.
#include "sanesession.h"

#include <mutex>
#include <utility>

namespace {

std::mutex libraryMutex;
int libraryUsers = 0;
SANE_Status libraryStatus = SANE_STATUS_GOOD;

}  // namespace

SaneLibrary::SaneLibrary() {
  std::lock_guard lock(libraryMutex);
  if (libraryUsers == 0) {
    SANE_Int version = 0;
    libraryStatus = sane_init(&version, nullptr);
  }
  ++libraryUsers;
  status_ = libraryStatus;
}

SaneLibrary::~SaneLibrary() {
  std::lock_guard lock(libraryMutex);
  if (--libraryUsers == 0 && libraryStatus == SANE_STATUS_GOOD) sane_exit();
}

SaneDevice::~SaneDevice() {
  Close();
}

SaneDevice::SaneDevice(SaneDevice&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SaneDevice& SaneDevice::operator=(SaneDevice&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

SANE_Status SaneDevice::Open(const std::string& name, SaneDevice& device) {
  device.Close();
  SANE_Handle handle = nullptr;
  const SANE_Status status = sane_open(name.c_str(), &handle);
  if (status == SANE_STATUS_GOOD) device.handle_ = handle;
  return status;
}

void SaneDevice::Close() {
  if (handle_ != nullptr) sane_close(std::exchange(handle_, nullptr));
}
