// The list of scanners SANE can reach, as texts "name;vendor model;type".
#pragma once

#include <string>
#include <vector>

#include "scanstatus.h"

// One entry of the device list: the SANE device name, ";" and vendor + " " + model, ";" and the
// type. A part the backend leaves out (a null string) is left out together with the ";" in front
// of it, so a missing name leaves the text starting with ";"; a device with no part is not listed
// (the result is empty).
std::string DeviceListEntry(const char* name, const char* vendor, const char* model,
                            const char* type);

// Field `number` (counted from 1 between the ";" separators) of an entry; empty when absent.
std::string DeviceListField(const std::string& entry, int number);

// Replaces `deviceList` with the devices sane_get_devices reports (local and network ones).
// SANE must be initialised (SaneLibrary).
ScanResult EnumerateScanDevices(std::vector<std::string>& deviceList);
