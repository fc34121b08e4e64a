// Device enumeration through sane_get_devices.
#include "devicelist.h"

#include <sane/sane.h>

std::string DeviceListEntry(const char* name, const char* vendor, const char* model,
                            const char* type) {
  std::string description;
  if (vendor != nullptr) description = vendor;
  if (model != nullptr) {
    if (vendor != nullptr) description += ' ';
    description += model;
  }
  const bool haveDescription = vendor != nullptr || model != nullptr;
  if (name == nullptr && !haveDescription && type == nullptr) return "";

  std::string entry = name != nullptr ? name : "";
  if (haveDescription) entry += ";" + description;
  if (type != nullptr) entry += ";" + std::string(type);
  return entry;
}

std::string DeviceListField(const std::string& entry, int number) {
  if (number < 1) return "";
  size_t begin = 0;
  for (int field = 1; field < number; ++field) {
    const size_t separator = entry.find(';', begin);
    if (separator == std::string::npos) return "";
    begin = separator + 1;
  }
  const size_t end = entry.find(';', begin);
  return entry.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

ScanResult EnumerateScanDevices(std::vector<std::string>& deviceList) {
  deviceList.clear();
  const SANE_Device** devices = nullptr;
  const SANE_Status status = sane_get_devices(&devices, SANE_FALSE);
  if (status != SANE_STATUS_GOOD) {
    return ScanResult::Failure(ScanStep::ListDevices, static_cast<uint32_t>(status));
  }
  for (size_t i = 0; devices != nullptr && devices[i] != nullptr; ++i) {
    const SANE_Device& device = *devices[i];
    std::string entry = DeviceListEntry(device.name, device.vendor, device.model, device.type);
    if (!entry.empty()) deviceList.push_back(std::move(entry));
  }
  return {};
}
