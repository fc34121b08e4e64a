// Shared pieces of the converter tests: a batch context, a fixture and element checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "conversioncontext.h"
#include "dcmobj.h"
#include "filevalue.h"
#include "testsupport.h"

namespace convertertest {

// A batch with every study field set to a recognisable value.
inline void SetUpBatch(const std::string& modality = "CT") {
  CurrentStudy = StudyInfo{};
  CurrentStudy.studyInstanceUid = "1.2.3.4";
  CurrentStudy.studyDate = "20240102";
  CurrentStudy.studyTime = "101112";
  CurrentStudy.studyDescription = "Knee";
  CurrentStudy.accessionNumber = "ACC1";
  CurrentStudy.institutionName = "Brindlewick";
  CurrentStudy.referringPhysicianName = "Doe^Jane";
  CurrentStudy.modality = modality;
  CurrentStudy.patientId = "PID7";
  CurrentStudy.patientName = "Roe^Rick";
  CurrentStudy.patientBirthDate = "19700203";
  CurrentStudy.patientSex = "F";
  BatchUIDRoot = "1.2.3.4";
  InstanceCounter = 0;
  SeriesNumberText.clear();
  CurrentSeriesUID.clear();
  KeepCameraJpegs = false;
}

// While it exists, the clock texts read this fixed time, in UTC.
class FixedClock {
 public:
  explicit FixedClock(std::time_t time) {
    const char* zone = std::getenv("TZ");
    hadZone_ = zone != nullptr;
    if (hadZone_) zone_ = zone;
    setenv("TZ", "UTC0", 1);
    tzset();
    SetFixedClock(time);
  }
  ~FixedClock() {
    SetFixedClock(0);
    if (hadZone_) {
      setenv("TZ", zone_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  FixedClock(const FixedClock&) = delete;
  FixedClock& operator=(const FixedClock&) = delete;

 private:
  bool hadZone_ = false;
  std::string zone_;
};

// 2024-05-15 09:08:07 UTC.
constexpr std::time_t kFixedTime = 1715764087;

// A converter test starts each case with a fresh "CT" batch and a folder for its source files.
class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUpBatch("CT"); }

  // Writes `bytes` as the file `name` in the test's folder and returns its path.
  std::string Write(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    testsupport::WriteFile(path, bytes);
    return path.string();
  }

  testsupport::TempDir dir_;
};

struct TagId {
  uint16_t group;
  uint16_t element;
};

// The data set's top-level entries are exactly these tags, in this order.
inline void ExpectTags(const DcmObj& dataSet, const std::vector<TagId>& expected) {
  ASSERT_EQ(dataSet.Count(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const DcmTag& tag = dataSet.EntryTag(i);
    EXPECT_TRUE(tag.Is(expected[i].group, expected[i].element))
        << "entry " << i << " is (" << std::hex << tag.group << "," << tag.element << ")";
  }
}

// Whether a top-level entry (an element or a sequence) has this tag.
inline bool HasEntry(const DcmObj& dataSet, uint16_t group, uint16_t element) {
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (dataSet.EntryTag(i).Is(group, element)) return true;
  }
  return false;
}

// The raw value as text (no trimming), so padding and zero lengths show.
inline std::string Raw(const DcmObj& dataSet, uint16_t group, uint16_t element) {
  const DcmTag* tag = dataSet.FindTag(group, element);
  if (tag == nullptr) return "<missing>";
  return std::string(tag->Bytes());
}

// The value an element is written with: its own bytes, or those read from the file it refers to.
inline std::string StoredValue(const DcmTag& tag) {
  if (!tag.fileValue) return std::string(tag.Bytes());
  std::string bytes(tag.length, '\0');
  std::string error;
  EXPECT_TRUE(tag.fileValue->Read(0, reinterpret_cast<uint8_t*>(bytes.data()), bytes.size(), error))
      << error;
  return bytes;
}

}  // namespace convertertest
