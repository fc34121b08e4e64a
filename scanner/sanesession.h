// The SANE library and an open scanner as owned resources.
#pragma once

#include <sane/sane.h>

#include <string>

// Keeps SANE initialised while at least one SaneLibrary exists; the last one calls sane_exit.
// Create and destroy on one thread (the window's).
class SaneLibrary {
 public:
  SaneLibrary();
  ~SaneLibrary();
  SaneLibrary(const SaneLibrary&) = delete;
  SaneLibrary& operator=(const SaneLibrary&) = delete;

  // The result of sane_init; nothing else works when it is not SANE_STATUS_GOOD.
  SANE_Status Status() const { return status_; }

 private:
  SANE_Status status_ = SANE_STATUS_GOOD;
};

// An open device, closed when the object goes away. Move-only.
class SaneDevice {
 public:
  SaneDevice() = default;
  ~SaneDevice();
  SaneDevice(SaneDevice&& other) noexcept;
  SaneDevice& operator=(SaneDevice&& other) noexcept;
  SaneDevice(const SaneDevice&) = delete;
  SaneDevice& operator=(const SaneDevice&) = delete;

  // Opens the device SANE knows as `name` (e.g. "test:0").
  static SANE_Status Open(const std::string& name, SaneDevice& device);

  SANE_Handle Handle() const { return handle_; }
  bool IsOpen() const { return handle_ != nullptr; }
  void Close();

 private:
  SANE_Handle handle_ = nullptr;
};
