// The device list: entries from SANE's devices, their fields, and a machine without scanners.
#include "devicelist.h"

#include <gtest/gtest.h>

#include "sanesession.h"
#include "sanetestbackend.h"

namespace {

TEST(DeviceList, EntriesJoinNameDescriptionAndType) {
  struct Row {
    const char* name;
    const char* vendor;
    const char* model;
    const char* type;
    const char* entry;
  };
  const Row rows[] = {
      {"test:0", "Noname", "frontend-tester", "virtual device",
       "test:0;Noname frontend-tester;virtual device"},
      {"plustek:libusb:001:004", "Canon", "", "flatbed scanner",
       "plustek:libusb:001:004;Canon ;flatbed scanner"},
      // A part left out takes the ";" in front of it along.
      {"net:host:test:0", nullptr, "frontend-tester", nullptr, "net:host:test:0;frontend-tester"},
      {"v4l:/dev/video0", nullptr, nullptr, "webcam", "v4l:/dev/video0;webcam"},
      {nullptr, "Noname", "frontend-tester", "virtual device",
       ";Noname frontend-tester;virtual device"},
      {nullptr, nullptr, nullptr, nullptr, ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(DeviceListEntry(row.name, row.vendor, row.model, row.type), row.entry);
  }
}

TEST(DeviceList, FieldsAreCountedFromOne) {
  const std::string entry = "test:0;Noname frontend-tester;virtual device";
  EXPECT_EQ(DeviceListField(entry, 1), "test:0");
  EXPECT_EQ(DeviceListField(entry, 2), "Noname frontend-tester");
  EXPECT_EQ(DeviceListField(entry, 3), "virtual device");
  EXPECT_EQ(DeviceListField(entry, 4), "");
  EXPECT_EQ(DeviceListField(entry, 0), "");
  EXPECT_EQ(DeviceListField(";only a name", 1), "");
}

TEST(DeviceList, ListsTheTestBackendsScanners) {
  SaneTestBackend backend;
  SaneLibrary sane;
  ASSERT_EQ(sane.Status(), SANE_STATUS_GOOD);
  std::vector<std::string> devices{"left over from before"};
  ASSERT_TRUE(EnumerateScanDevices(devices).Ok());
  EXPECT_EQ(devices, (std::vector<std::string>{"test:0;Noname frontend-tester;virtual device",
                                               "test:1;Noname frontend-tester;virtual device"}));
}

TEST(DeviceList, EmptyWithoutScanners) {
  SaneTestBackend backend(SaneTestBackend::Scanners::None);
  SaneLibrary sane;
  std::vector<std::string> devices{"left over from before"};
  ASSERT_TRUE(EnumerateScanDevices(devices).Ok());
  EXPECT_TRUE(devices.empty());
}

}  // namespace
