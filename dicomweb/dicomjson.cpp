// The DICOM JSON model (PS3.18 F.2) read into data sets.
#include "dicomjson.h"

#include <nlohmann/json.hpp>

#include <cstring>

#include "answerelements.h"
#include "bufdata.h"
#include "syntaxes.h"

namespace {

using Json = nlohmann::json;

// "GGGGEEEE" in hexadecimal; false for any other key.
bool ParseTagKey(const std::string& key, uint16_t& group, uint16_t& element) {
  if (key.size() != 8) return false;
  uint32_t value = 0;
  for (char c : key) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  group = static_cast<uint16_t>(value >> 16);
  element = static_cast<uint16_t>(value & 0xFFFF);
  return true;
}

std::string NumberText(const Json& value) {
  if (value.is_number_integer()) return value.dump();
  // The shortest form that reads back as the same number.
  if (value.is_number_float()) return value.dump();
  return {};
}

// One value of a text element: strings as they are, numbers (IS, DS) in decimal, null as empty.
std::string TextValue(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number()) return NumberText(value);
  return {};
}

// A person name: its component groups joined by "=", trailing empty groups left out.
std::string PersonName(const Json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (!value.is_object()) return {};
  std::string groups[3];
  const char* names[3] = {"Alphabetic", "Ideographic", "Phonetic"};
  for (int i = 0; i < 3; ++i) {
    const auto found = value.find(names[i]);
    if (found != value.end() && found->is_string()) groups[i] = found->get<std::string>();
  }
  std::string name = groups[0];
  if (!groups[1].empty() || !groups[2].empty()) name += "=" + groups[1];
  if (!groups[2].empty()) name += "=" + groups[2];
  return name;
}

template <typename Number>
bool AppendBinary(const Json& value, std::string& bytes) {
  if (!value.is_number()) return false;
  Number number;
  if constexpr (std::is_floating_point_v<Number>) {
    number = static_cast<Number>(value.get<double>());
  } else if constexpr (std::is_signed_v<Number>) {
    if (!value.is_number_integer()) return false;
    number = static_cast<Number>(value.get<int64_t>());
  } else {
    if (!value.is_number_integer()) return false;
    number = static_cast<Number>(value.get<uint64_t>());
  }
  char raw[sizeof(Number)];
  std::memcpy(raw, &number, sizeof(Number));  // this machine is little endian, as the encoding
  bytes.append(raw, sizeof(Number));
  return true;
}

// The value bytes of a binary number element; false for a VR that is not one.
bool BinaryValue(std::string_view vr, const Json& values, std::string& bytes) {
  for (const Json& value : values) {
    bool ok = false;
    if (vr == "US")
      ok = AppendBinary<uint16_t>(value, bytes);
    else if (vr == "SS")
      ok = AppendBinary<int16_t>(value, bytes);
    else if (vr == "UL")
      ok = AppendBinary<uint32_t>(value, bytes);
    else if (vr == "SL")
      ok = AppendBinary<int32_t>(value, bytes);
    else if (vr == "FL")
      ok = AppendBinary<float>(value, bytes);
    else if (vr == "FD")
      ok = AppendBinary<double>(value, bytes);
    else
      return false;
    if (!ok) return false;
  }
  return true;
}

void ReadObject(const Json& object, DcmObj& dataSet, int depth);

// Reads one element; false when it is left out.
bool ReadElement(uint16_t group, uint16_t element, const Json& attribute, DcmObj& dataSet,
                 int depth) {
  if (!attribute.is_object()) return false;
  const auto vrEntry = attribute.find("vr");
  if (vrEntry == attribute.end() || !vrEntry->is_string()) return false;
  const std::string vr = vrEntry->get<std::string>();
  if (vr.size() != 2) return false;
  const auto valueEntry = attribute.find("Value");
  const bool hasValues = valueEntry != attribute.end() && valueEntry->is_array();
  if (!hasValues && (attribute.contains("BulkDataURI") || attribute.contains("InlineBinary"))) {
    return false;
  }
  if (vr == "SQ") {
    if (depth >= kMaxSequenceDepth) return false;
    auto sequence = NewSequence(group, element);
    if (hasValues) {
      for (const Json& item : *valueEntry) {
        if (!item.is_object()) continue;
        auto nested = NewSequenceItem();
        ReadObject(item, *nested, depth + 1);
        sequence->Append(std::move(nested));
      }
    }
    dataSet.Append(std::move(sequence));
    return true;
  }
  std::string bytes;
  if (hasValues) {
    if (vr == "PN") {
      for (size_t i = 0; i < valueEntry->size(); ++i) {
        if (i != 0) bytes += '\\';
        bytes += PersonName((*valueEntry)[i]);
      }
    } else if (IsPlainTextVR(vr)) {
      for (size_t i = 0; i < valueEntry->size(); ++i) {
        if (i != 0) bytes += '\\';
        bytes += TextValue((*valueEntry)[i]);
      }
    } else if (!BinaryValue(vr, *valueEntry, bytes)) {
      return false;
    }
  }
  if (bytes.size() > 0xFFFFFFF0u) return false;
  dataSet.Append(DcmTag::FromBytes(group, element, static_cast<uint32_t>(bytes.size()),
                                   bytes.empty() ? nullptr : bytes.data(), vr.c_str()));
  return true;
}

void ReadObject(const Json& object, DcmObj& dataSet, int depth) {
  for (const auto& [key, attribute] : object.items()) {
    uint16_t group = 0;
    uint16_t element = 0;
    if (!ParseTagKey(key, group, element)) continue;
    ReadElement(group, element, attribute, dataSet, depth);
  }
}

bool Parse(std::string_view text, Json& json, std::string& error) {
  json = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) {
    error = "the answer is not valid JSON";
    return false;
  }
  return true;
}

}  // namespace

bool DataSetFromJson(std::string_view text, DcmObj& dataSet, std::string& error) {
  Json json;
  if (!Parse(text, json, error)) return false;
  // A server may wrap the one data set in an array.
  if (json.is_array() && json.size() == 1) json = Json(json[0]);
  if (!json.is_object()) {
    error = "the answer is not a DICOM JSON data set";
    return false;
  }
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  ReadObject(json, dataSet, 0);
  return true;
}

bool DataSetsFromJson(std::string_view text, std::vector<std::unique_ptr<DcmObj>>& dataSets,
                      std::string& error) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos) return true;
  Json json;
  if (!Parse(text, json, error)) return false;
  if (!json.is_array()) {
    error = "the answer is not a list of DICOM JSON data sets";
    return false;
  }
  for (const Json& object : json) {
    if (!object.is_object()) {
      error = "the answer's list holds something other than DICOM JSON data sets";
      return false;
    }
    auto dataSet = std::make_unique<DcmObj>();
    dataSet->SetTransferSyntax(kExplicitVRLittleEndian);
    ReadObject(object, *dataSet, 0);
    dataSets.push_back(std::move(dataSet));
  }
  return true;
}

std::vector<const DcmObj*> SequenceItems(const DcmObj& dataSet, uint16_t group, uint16_t element) {
  std::vector<const DcmObj*> items;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmObj* sequence = dataSet.ObjAt(i);
    if (sequence == nullptr || !sequence->header.Is(group, element)) continue;
    for (size_t j = 0; j < sequence->Count(); ++j) {
      if (const DcmObj* item = sequence->ObjAt(j)) items.push_back(item);
    }
    break;
  }
  return items;
}
