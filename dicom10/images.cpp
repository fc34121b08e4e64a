// Reading image attributes, VOI LUTs and native pixels; burning a VOI LUT into the pixels.
#include "images.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "dcmobj.h"
#include "log.h"

namespace {

bool IsSequenceDelimiter(const DcmTag& tag) {
  return tag.Is(0xFFFE, 0xE0DD);
}

uint16_t WordAt(const DcmTag& tag, size_t index) {
  const uint8_t* bytes = tag.value.get() + 2 * index;
  return tag.bigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                       : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

void ReadDescriptor(const DcmTag& tag, VoiLut& lut) {
  if (tag.length != 6 || !tag.HasValue()) return;
  const uint16_t entries = WordAt(tag, 0);
  lut.entries = entries == 0 ? 65536u : entries;
  lut.firstMapped = WordAt(tag, 1);
  lut.bitsPerEntry = WordAt(tag, 2);
  lut.data.assign(lut.bitsPerEntry == 8 ? lut.entries : 2 * static_cast<size_t>(lut.entries), 0);
}

// True when the LUT data matched the descriptor and was copied (as little-endian words).
bool ReadLutData(const DcmTag& tag, VoiLut& lut) {
  if (lut.data.empty() || tag.length != lut.data.size() || !tag.HasValue()) return false;
  if (lut.bitsPerEntry == 8 || !tag.bigEndian) {
    std::copy_n(tag.value.get(), lut.data.size(), lut.data.begin());
  } else {
    for (size_t i = 0; i < lut.entries; ++i) {
      const uint16_t word = WordAt(tag, i);
      lut.data[2 * i] = static_cast<uint8_t>(word);
      lut.data[2 * i + 1] = static_cast<uint8_t>(word >> 8);
    }
  }
  return true;
}

// The LUT of one item held in nested form.
bool ReadItemLut(const DcmObj& item, VoiLut& lut) {
  for (size_t j = 0; j < item.Count(); ++j) {
    const DcmTag* tag = item.TagAt(j);
    if (tag == nullptr) continue;
    if (tag->Is(0x0028, 0x3002)) ReadDescriptor(*tag, lut);
    if (tag->Is(0x0028, 0x3006)) return ReadLutData(*tag, lut);
  }
  return false;
}

// The LUT of the first item of a VOI LUT Sequence held in nested form.
bool ReadNestedLut(const DcmObj& sequence, VoiLut& lut) {
  for (size_t i = 0; i < sequence.Count(); ++i) {
    if (const DcmObj* item = sequence.ObjAt(i)) return ReadItemLut(*item, lut);
  }
  return false;
}

// Truncation toward zero that stays defined for any value a crafted slope can produce.
long TruncateToLong(double value) {
  if (value != value) return 0;
  return static_cast<long>(std::clamp(value, -1e12, 1e12));
}

std::string Decimal15(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", value);
  return text;
}

}  // namespace

void TImages::Read(const DcmObj& dataSet) {
  int depth = 0;
  // While inside a VOI LUT Sequence held in flat form: the depth of its items. Descriptors and
  // data of other sequences (a Modality LUT Sequence has the same elements) are not taken.
  int lutDepth = -1;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (const DcmObj* nested = dataSet.ObjAt(i)) {
      const bool lutSequence = nested->header.Is(0x0028, 0x3010);
      const bool lutItem = lutDepth > 0 && depth >= lutDepth && nested->header.Is(0xFFFE, 0xE000);
      if ((lutSequence || lutItem) && !HasVOILUT) {
        VoiLut lut;
        if (lutSequence ? ReadNestedLut(*nested, lut) : ReadItemLut(*nested, lut)) {
          voiLut = std::move(lut);
          HasVOILUT = true;
        }
      }
      continue;
    }
    const DcmTag& tag = *dataSet.TagAt(i);
    if (tag.HasUndefinedLength() && (tag.IsVR("SQ") || tag.Is(0xFFFE, 0xE000))) {
      ++depth;
      if (tag.Is(0x0028, 0x3010) && lutDepth < 0 && !HasVOILUT) {
        lutDepth = depth;
        voiLut = VoiLut{};
      }
      continue;
    }
    if (depth == 0) {
      try {
        ReadTopLevel(tag);
      } catch (const std::exception& error) {
        WriteLog(std::string("ERROR, TImages::Read, ") + error.what());
        return;
      }
    } else if (lutDepth > 0 && depth >= lutDepth && !HasVOILUT) {
      if (tag.Is(0x0028, 0x3002)) ReadDescriptor(tag, voiLut);
      if (tag.Is(0x0028, 0x3006) && ReadLutData(tag, voiLut)) HasVOILUT = true;
    }
    if ((tag.Is(0xFFFE, 0xE00D) || IsSequenceDelimiter(tag)) && depth > 0) {
      if (IsSequenceDelimiter(tag) && depth == lutDepth) lutDepth = -1;
      --depth;
    }
  }
  CheckSpacing();
}

void TImages::ReadTopLevel(const DcmTag& tag) {
  if (tag.Is(0x0008, 0x0060)) modality = tag.GetString();
  if (tag.Is(0x0008, 0x0070)) {
    manufacturer = tag.GetString();
    std::string lower = manufacturer;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("instrumentarium") != std::string::npos) vendorMarker = "INSTRUMENTARIUM";
    if (lower.find("soredex") != std::string::npos) vendorMarker = "SOREDEX";
  }
  if (tag.Is(0x0018, 0x1164)) {
    imagerPixelSpacing[0] = static_cast<float>(tag.GetValueAt(0));
    imagerPixelSpacing[1] = static_cast<float>(tag.GetValueAt(1));
  }
  if (tag.Is(0x0028, 0x0004)) {
    const std::string photometric = tag.GetString();
    colour = photometric == "RGB" || photometric == "YBR_FULL_422";
  }
  if (tag.Is(0x0028, 0x0008)) {
    const int number = std::atoi(tag.GetString().c_str());
    frames = number > 0 ? number : 1;
  }
  if (tag.Is(0x0028, 0x0010)) rows = tag.GetUS();
  if (tag.Is(0x0028, 0x0011)) columns = tag.GetUS();
  if (tag.Is(0x0028, 0x0030)) {
    pixelSpacing[0] = static_cast<float>(tag.GetValueAt(0));
    pixelSpacing[1] = static_cast<float>(tag.GetValueAt(1));
  }
  if (tag.Is(0x0028, 0x0100)) bitsAllocated = tag.GetUS();
  if (tag.Is(0x0028, 0x1052)) rescaleIntercept = tag.GetFloat();
  if (tag.Is(0x0028, 0x1053)) rescaleSlope = tag.GetFloat();
  if (tag.Is(0x7FE0, 0x0010) && !tag.HasUndefinedLength() && !colour) {
    uint64_t expected =
        static_cast<uint64_t>(rows) * columns * bitsAllocated / 8 * static_cast<uint64_t>(frames);
    if (expected & 1u) ++expected;
    if (static_cast<uint32_t>(expected - tag.length) > 1u || expected > UINT32_MAX) {
      WriteLog("ERROR, Image Size (" + std::to_string(expected) + ") <> Tag Length (" +
               std::to_string(tag.length) + ")");
      pixels.clear();
      return;
    }
    pixels.assign(expected, 0);
    if (tag.HasValue()) std::copy_n(tag.value.get(), tag.length, pixels.begin());
    // The LUT maps 16-bit little-endian values; words read from a big-endian stream are turned.
    if (tag.bigEndian && tag.IsVR("OW")) {
      for (size_t k = 0; k + 1 < tag.length; k += 2) std::swap(pixels[k], pixels[k + 1]);
    }
  }
}

void TImages::CheckSpacing() {
  const bool projection =
      modality == "CR" || modality == "DX" || modality == "MG" || modality == "IO";
  if (!projection || !vendorMarker.empty()) return;
  if (imagerPixelSpacing[0] != 0 && pixelSpacing[0] != 0) {
    if (imagerPixelSpacing[0] != pixelSpacing[0]) {
      WriteLog("WARNING, Imager PixelSpacing (" + Decimal15(imagerPixelSpacing[0]) +
               ")!= PixelSpacing ((" + Decimal15(pixelSpacing[0]) + ")");
    }
    return;
  }
  if (imagerPixelSpacing[0] != 0 && imagerPixelSpacing[1] != 0) return;
  imagerPixelSpacing[0] = pixelSpacing[0];
  imagerPixelSpacing[1] = pixelSpacing[1];
  WriteLog("WARNING, Imager PixelSpacing is empty, Using Pixel Spacing from (0028, 0030)");
}

bool TImages::ApplyVOILUT() {
  const size_t samples = static_cast<size_t>(rows) * columns * static_cast<size_t>(frames);
  if (bitsAllocated == 8) {
    // An 8-bit image keeps its LUT; only its rescale is burnt in.
    if (rescaleSlope != 0) {
      for (size_t k = 0; k < samples && k < pixels.size(); ++k) {
        const long value =
            TruncateToLong(static_cast<double>(pixels[k] * rescaleSlope + rescaleIntercept));
        pixels[k] = static_cast<uint8_t>(value);
      }
    }
    return false;
  }
  if (bitsAllocated != 16 || !HasVOILUT || voiLut.bitsPerEntry == 8 || voiLut.entries == 0 ||
      pixels.size() < samples * 2) {
    return false;
  }
  const long last = static_cast<long>(voiLut.entries) - 1;
  for (size_t k = 0; k < samples; ++k) {
    const long value = pixels[2 * k] | pixels[2 * k + 1] << 8;
    const long index = std::clamp(value - static_cast<long>(voiLut.firstMapped), 0L, last);
    pixels[2 * k] = voiLut.data[2 * static_cast<size_t>(index)];
    pixels[2 * k + 1] = voiLut.data[2 * static_cast<size_t>(index) + 1];
  }
  return true;
}

int BurnInVOILUT(DcmObj& dataSet) {
  TImages image;
  image.Read(dataSet);
  if (!image.HasVOILUT || image.colour || image.pixels.empty()) return 0;
  // Only a LUT that was really applied may be removed, or its presentation would be lost.
  if (!image.ApplyVOILUT()) return 0;
  DcmTag* pixelData = dataSet.FindTag(0x7FE0, 0x0010);
  if (pixelData == nullptr || !pixelData->HasValue()) return 0;
  pixelData->SetValue(image.pixels.data(), pixelData->length);
  pixelData->bigEndian = false;
  int removed = 0;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    if (const DcmObj* nested = dataSet.ObjAt(i)) {
      if (nested->header.Is(0x0028, 0x3010)) {
        dataSet.Delete(i);
        return 1;
      }
      continue;
    }
    const DcmTag& tag = *dataSet.TagAt(i);
    if (!tag.Is(0x0028, 0x3010)) continue;
    if (!tag.HasUndefinedLength()) {
      dataSet.Delete(i);
      return 1;
    }
    // Flat form: the sequence, its items and nested sequences, up to its own delimiter.
    int depth = 0;
    while (i < dataSet.Count()) {
      const DcmTag* entry = dataSet.TagAt(i);
      bool done = false;
      if (entry != nullptr) {
        if (entry->IsVR("SQ") && entry->HasUndefinedLength()) ++depth;
        if (IsSequenceDelimiter(*entry)) done = --depth == 0;
      }
      dataSet.Delete(i);
      ++removed;
      if (done) break;
    }
    return removed;
  }
  return removed;
}
