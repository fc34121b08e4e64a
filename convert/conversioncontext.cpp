// The shared conversion context: batch state, UID forms, clock texts and element builders.
#include "conversioncontext.h"

#include <atomic>
#include <ctime>

#include "charset.h"
#include "dcmtag.h"

StudyInfo CurrentStudy;
std::string BatchUIDRoot;
int32_t InstanceCounter = 0;
std::string SeriesNumberText;
std::string CurrentSeriesUID;
std::atomic<bool> KeepCameraJpegs{false};

void AppendObject(DataSetList& list, std::unique_ptr<DcmObj> object) {
  EncodeObjectTexts(*object);
  list.push_back(std::move(object));
}

std::string_view SeriesSuffix(ObjectKind kind) {
  switch (kind) {
    case ObjectKind::Image:
      return ".20";
    case ObjectKind::TextReport:
      return ".30";
    case ObjectKind::Pdf:
      return ".40";
    case ObjectKind::Video:
      return ".50";
  }
  return ".20";
}

std::string_view InstanceInfix(ObjectKind kind) {
  return kind == ObjectKind::Pdf ? ".1." : ".10.";
}

ObjectNumbers StartObject(ObjectKind kind) {
  ++InstanceCounter;
  CurrentSeriesUID = BatchUIDRoot + std::string(SeriesSuffix(kind));
  ObjectNumbers numbers;
  numbers.instanceNumber = InstanceCounter;
  numbers.sopInstanceUid =
      BatchUIDRoot + std::string(InstanceInfix(kind)) + std::to_string(InstanceCounter);
  return numbers;
}

std::string InstanceNumberText() {
  return std::to_string(InstanceCounter);
}

namespace {
std::atomic<std::time_t> fixedClock{0};
}  // namespace

void SetFixedClock(std::time_t time) {
  fixedClock = time;
}

std::string LocalClockText(const char* pattern) {
  const std::time_t fixed = fixedClock;
  const std::time_t now = fixed != 0 ? fixed : std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, pattern, &local);
  return text;
}

std::string TodayText() {
  return LocalClockText("%Y%m%d");
}
std::string NowText() {
  return LocalClockText("%H%M%S");
}

void AppendText(DcmObj& dataSet, uint16_t group, uint16_t element, std::string_view text) {
  dataSet.Append(DcmTag::FromText(group, element, text));
}

void AppendNumber16(DcmObj& dataSet, uint16_t group, uint16_t element, uint16_t number) {
  const uint8_t bytes[2] = {static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8)};
  dataSet.Append(DcmTag::FromBytes(group, element, 2, bytes));
}

void AppendEncapsulatedPixelData(DcmObj& dataSet, std::unique_ptr<uint8_t[]> bytes,
                                 uint32_t length) {
  // The fragment takes the buffer as it is: a picture may be large, so no copy is made.
  auto fragment = DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL");
  fragment->TakeValue(std::move(bytes), length);
  AppendEncapsulatedPixelData(dataSet, std::move(fragment));
}

void AppendEncapsulatedPixelData(DcmObj& dataSet, std::unique_ptr<DcmTag> fragment) {
  dataSet.Append(DcmTag::FromBytes(0x7FE0, 0x0010, kUndefinedLength, nullptr, "OB"));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE000, 0, nullptr, "DL"));
  if (fragment->length != 0) dataSet.Append(std::move(fragment));
  dataSet.Append(DcmTag::FromBytes(0xFFFE, 0xE0DD, 0, nullptr, "DL"));
}
