// Transfer-syntax conversion: a read-only plan over the data set (decode, re-encode, attribute
// rewrites), applied only when every step succeeded, so a failed conversion loses nothing.
#include "transfer_syntax.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <span>
#include <thread>
#include <utility>

#include "codec_j2k.h"
#include "codec_jpeg.h"
#include "codec_jpegls.h"
#include "images.h"
#include "log.h"
#include "rle.h"
#include "uids.h"

namespace {

// Pixel Data of more than this cannot be held in one native element.
constexpr uint64_t kMaxPixelBytes = 0xFFFFFFFEull;
// Compressed pixel data is believed to decode to at most this many times its own size, plus a
// fixed allowance for blank pictures that compress to almost nothing: a file of a few hundred
// bytes cannot make us zero-fill gigabytes before its data turns out to be missing.
constexpr uint64_t kMaxDecodeRatio = 1024;
constexpr uint64_t kDecodeAllowance = uint64_t{64} << 20;

bool IsCompressedTarget(std::string_view target) {
  return target == kJpegLosslessSyntax || target == kJpegLosslessProcess14 ||
         target == kJpegBaselineSyntax || target == kJpegExtendedSyntax ||
         target == kJpeg2000LosslessSyntax || target == kJpeg2000Syntax;
}

// Sources that are decoded here but never produced.
bool IsDecodeOnlySource(std::string_view syntax) {
  return syntax == kJpegLSLosslessSyntax || syntax == kJpegLSNearLosslessSyntax;
}

bool IsMonochromeText(std::string_view photometric) {
  return photometric.substr(0, 3) == "MON" || photometric.substr(0, 3) == "PAL";
}

std::string Trimmed(const DcmTag& tag) {
  return tag.GetString();
}

uint16_t Word(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

void PutWord(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value);
  bytes[1] = static_cast<uint8_t>(value >> 8);
}

// v = sample x slope + intercept, truncated toward zero, plus 1024 for CT.
long RescaledValue(const uint8_t* sample, const PixelAttributes& a) {
  const uint16_t word = Word(sample);
  const float stored = a.pixelRepresentation == 1 ? static_cast<float>(static_cast<int16_t>(word))
                                                  : static_cast<float>(word);
  const float scaled = stored * a.rescaleSlope + a.rescaleIntercept;
  long value = 0;
  if (scaled == scaled) value = static_cast<long>(std::clamp(scaled, -1e9f, 1e9f));
  if (a.modality == "CT") value += 1024;
  return value;
}

// One planned value change of an element that stays where it is.
struct Rewrite {
  size_t index;
  std::string bytes;
};

std::string UsBytes(uint16_t value) {
  return std::string{static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

// Everything the conversion will change, computed without touching the data set.
struct Plan {
  std::vector<Rewrite> rewrites;
  bool converted = false;
  size_t pixelBegin = 0;  // first entry replaced by pixelEntries
  size_t pixelEnd = 0;    // one past the last
  std::vector<std::unique_ptr<DcmTag>> pixelEntries;
  float ratio = 0;
  std::string photometric;
};

// The fragments after encapsulated Pixel Data at `pixelIndex`: the Basic Offset Table first.
struct Fragments {
  std::vector<std::span<const uint8_t>> items;
  size_t end = 0;  // one past the sequence delimiter (or the last item when it is missing)
};

Fragments CollectFragments(const DcmObj& dataSet, size_t pixelIndex) {
  Fragments fragments;
  size_t i = pixelIndex + 1;
  for (; i < dataSet.Count(); ++i) {
    const DcmTag* tag = dataSet.TagAt(i);
    if (tag == nullptr) break;
    if (tag->Is(0xFFFE, 0xE0DD)) {
      ++i;
      break;
    }
    if (!tag->Is(0xFFFE, 0xE000)) break;
    const std::string_view bytes = tag->Bytes();
    fragments.items.emplace_back(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  fragments.end = i;
  return fragments;
}

uint32_t Little32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The data fragments of each frame: one per frame, all of them for a single frame, or grouped by
// the Basic Offset Table. Empty when they cannot be matched to the frames.
std::vector<std::vector<std::span<const uint8_t>>> GroupFrames(const Fragments& fragments,
                                                               size_t frames) {
  std::vector<std::vector<std::span<const uint8_t>>> groups;
  if (fragments.items.size() < 2) return groups;
  const std::span<const uint8_t> table = fragments.items[0];
  const size_t dataCount = fragments.items.size() - 1;
  if (dataCount == frames) {
    for (size_t f = 0; f < frames; ++f) groups.push_back({fragments.items[f + 1]});
    return groups;
  }
  if (frames == 1) {
    groups.emplace_back(fragments.items.begin() + 1, fragments.items.end());
    return groups;
  }
  if (dataCount < frames || table.size() != 4 * frames) return groups;
  // Offsets count from the first byte of the first data item, item headers (8 bytes) included.
  std::vector<uint32_t> starts(frames);
  for (size_t f = 0; f < frames; ++f) starts[f] = Little32(table.data() + 4 * f);
  groups.resize(frames);
  uint64_t offset = 0;
  size_t frame = 0;
  for (size_t k = 1; k < fragments.items.size(); ++k) {
    while (frame + 1 < frames && offset >= starts[frame + 1]) ++frame;
    if (offset < starts[0]) return {};
    groups[frame].push_back(fragments.items[k]);
    offset += 8 + fragments.items[k].size();
  }
  for (const auto& group : groups) {
    if (group.empty()) return {};
  }
  return groups;
}

// Runs `work` for every frame, spread over the machine's cores: frames are independent and each
// codec call owns its codec object. True when every frame succeeded.
// An exception inside a frame's work (an allocation in a codec, say) fails that frame with a log
// line; it never leaves a thread, where it would end the process. When no further thread can be
// started, the threads already running take over the remaining frames, and every thread started
// is joined.
template <typename Work>
bool ForEachFrame(size_t frames, Work work) {
  const auto guarded = [&work](size_t f) {
    try {
      return work(f);
    } catch (const std::exception& failure) {
      WriteLog(std::string("ERROR, DcmObj::ConvertTransferSyntax, frame ") + std::to_string(f + 1) +
               ": " + failure.what());
      return false;
    }
  };
  const size_t wanted =
      std::min<size_t>(frames, std::max(1u, std::min(8u, std::thread::hardware_concurrency())));
  if (wanted <= 1) {
    for (size_t f = 0; f < frames; ++f) {
      if (!guarded(f)) return false;
    }
    return true;
  }
  std::vector<char> succeeded(frames, 0);
  std::atomic<size_t> next{0};
  const auto worker = [&] {
    for (size_t f = next++; f < frames; f = next++) succeeded[f] = guarded(f) ? 1 : 0;
  };
  std::vector<std::thread> pool;
  try {
    pool.reserve(wanted);
    for (size_t t = 0; t < wanted; ++t) pool.emplace_back(worker);
  } catch (const std::exception& failure) {
    WriteLog(std::string("WARNING, DcmObj::ConvertTransferSyntax, worker thread: ") +
             failure.what());
  }
  // With no thread at all this thread does the work itself.
  if (pool.empty()) worker();
  for (std::thread& thread : pool) thread.join();
  return std::all_of(succeeded.begin(), succeeded.end(), [](char ok) { return ok != 0; });
}

bool DecodeFrame(std::string_view syntax, std::string_view photometric,
                 std::span<const uint8_t> fragment, size_t wholeSize, uint8_t* frame,
                 size_t frameSize, int bitsAllocated) {
  const uint8_t* data = fragment.data();
  const size_t length = fragment.size();
  const JpegColour colour = photometric == "RGB" ? JpegColour::kRgb : JpegColour::kAsStreamSays;
  if (syntax == kRleLossless)
    return DecodeRLEFrame(photometric, data, length, frame, frameSize, bitsAllocated);
  if (syntax == kJpegLosslessSyntax || syntax == kJpegLosslessProcess14) {
    if (bitsAllocated == 8) return DecompressJpeg8(data, length, frame, frameSize) == 0;
    if (length == wholeSize) {
      // Some writers put raw big-endian samples into a fragment of the whole buffer's size.
      const size_t n = std::min(length, frameSize) & ~size_t{1};
      for (size_t k = 0; k < n; k += 2) {
        frame[k] = data[k + 1];
        frame[k + 1] = data[k];
      }
      return n == frameSize;
    }
    return DecompressJpeg16(data, length, frame, frameSize) == 0;
  }
  if (syntax == kJpegBaselineSyntax || syntax == kJpegExtendedSyntax) {
    // Extended JPEG may hold 8-bit samples too; their frames are bytes.
    if (bitsAllocated == 8) return DecompressJpeg8(data, length, frame, frameSize, colour) == 0;
    return DecompressJpeg12(data, length, frame, frameSize, colour) == 0;
  }
  if (syntax == kJpeg2000LosslessSyntax || syntax == kJpeg2000Syntax)
    return DecodeJ2K(data, length, frame, frameSize, bitsAllocated);
  if (syntax == kJpegLSLosslessSyntax || syntax == kJpegLSNearLosslessSyntax)
    return DecodeJpegLS(data, length, frame, frameSize, bitsAllocated);
  WriteLog("ERROR, DcmObj::Decompress, no decoder for " + std::string(syntax));
  return false;
}

std::unique_ptr<DcmTag> MakeTag(uint16_t group, uint16_t element, const char* vr) {
  auto tag = std::make_unique<DcmTag>(group, element);
  tag->SetVR(vr);
  return tag;
}

// An item holding `bytes`, padded to even length with a zero byte.
std::unique_ptr<DcmTag> MakeFragment(const std::vector<uint8_t>& bytes) {
  auto item = MakeTag(0xFFFE, 0xE000, "DL");
  const size_t padded = bytes.size() + (bytes.size() & 1u);
  auto value = std::make_unique<uint8_t[]>(padded);
  std::memcpy(value.get(), bytes.data(), bytes.size());
  item->TakeValue(std::move(value), static_cast<uint32_t>(padded));
  return item;
}

std::string RatioText(float ratio) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, ratio, std::chars_format::fixed, 2);
  return std::string(text, result.ptr);
}

// Undoes Planar Configuration 1: the k-th pixel of a frame takes the k-th sample (of
// `sampleBytes` bytes) of each third.
void Interleave(const uint8_t* in, uint8_t* out, size_t frameSize, size_t frames,
                size_t sampleBytes) {
  const size_t third = frameSize / 3;
  const size_t samples = third / sampleBytes;
  for (size_t f = 0; f < frames; ++f) {
    const uint8_t* planes = in + f * frameSize;
    uint8_t* pixels = out + f * frameSize;
    for (size_t k = 0; k < samples; ++k) {
      for (size_t c = 0; c < 3; ++c) {
        std::memcpy(pixels + (3 * k + c) * sampleBytes, planes + c * third + k * sampleBytes,
                    sampleBytes);
      }
    }
  }
}

uint8_t ClampByte(double value) {
  return static_cast<uint8_t>(std::clamp(std::trunc(value), 0.0, 255.0));
}

// Native YBR_FULL samples become RGB, so that the "RGB" the data set will say is true.
void YbrFullToRgb(uint8_t* pixels, size_t count) {
  for (size_t k = 0; k + 2 < count; k += 3) {
    const double y = pixels[k];
    const double cb = pixels[k + 1] - 128.0;
    const double cr = pixels[k + 2] - 128.0;
    pixels[k] = ClampByte(y + 1.402 * cr);
    pixels[k + 1] = ClampByte(y - 0.344136 * cb - 0.714136 * cr);
    pixels[k + 2] = ClampByte(y + 1.772 * cb);
  }
}

// The attribute rewrites for group 0028 element `tag`, given what was remembered so far.
void PlanRewrites(const DcmTag& tag, size_t index, const PixelAttributes& a,
                  std::string_view target, std::vector<Rewrite>& rewrites) {
  const bool ct = a.modality == "CT";
  const std::string intercept = ct ? "-1024 " : "0 ";
  auto set = [&](std::string bytes) { rewrites.push_back({index, std::move(bytes)}); };
  const uint16_t element = tag.element;
  if (target == kJpegBaselineSyntax && a.bitsStored != 8) {
    if (element == 0x0100 || element == 0x0101) set(UsBytes(8));
    if (element == 0x0102) set(UsBytes(7));
    if (element == 0x0103) set(UsBytes(0));
    if (element == 0x1052) set(intercept);
    if (element == 0x1053) {
      std::string slope = "1 ";
      if (a.bitsStored == 10) slope = "4 ";
      if (a.bitsStored == 12) slope = "16";
      if (a.bitsStored == 14) slope = "64";
      if (a.bitsStored == 16) slope = "256 ";
      if (ct) slope = "16";
      if (a.modality == "NM") slope = "1 ";
      set(slope);
    }
  } else if (target == kJpegExtendedSyntax && a.bitsStored != 12) {
    if (element == 0x0101) set(UsBytes(12));
    if (element == 0x0102) set(UsBytes(11));
    if (element == 0x0103) set(UsBytes(0));
    if (element == 0x1052) set(intercept);
  } else if (target == kJpeg2000Syntax && a.bitsStored != 8) {
    // Lossy JPEG 2000 stores the rescaled, non-negative values. Lossless JPEG 2000 keeps the
    // samples as they are, so its attributes stay too.
    if (element == 0x1052) set(intercept);
    if (element == 0x1053) set("1 ");
    if (element == 0x0103 && !a.colour) set(UsBytes(0));
  }
}

void RememberAttribute(const DcmTag& tag, PixelAttributes& a) {
  switch (tag.element) {
    case 0x0006:
      a.planar = tag.GetUS() == 1;
      break;
    case 0x0008:
      a.frames = std::atoi(tag.GetString().c_str());
      break;
    case 0x0010:
      a.rows = tag.GetUS();
      break;
    case 0x0011:
      a.columns = tag.GetUS();
      break;
    case 0x0100:
      a.bitsAllocated = tag.GetUS();
      break;
    case 0x0101:
      a.bitsStored = tag.GetUS();
      break;
    case 0x0103:
      a.pixelRepresentation = tag.GetUS();
      break;
    case 0x1052:
      a.rescaleIntercept = tag.GetFloat();
      break;
    case 0x1053:
      a.rescaleSlope = tag.GetFloat();
      break;
    default:
      break;
  }
}

// Whether encoding for `target` rescales the samples where they are.
bool RescalesInPlace(std::string_view target) {
  return target == kJpegExtendedSyntax || target == kJpeg2000Syntax;
}

// The pixel data at `index` as native, interleaved, little-endian samples: decoded, or read from
// the element. Samples that need no change and are only read on the way to a compressed target
// are borrowed from the element rather than copied.
bool ReadPixels(const DcmObj& dataSet, size_t index, const PixelAttributes& a,
                std::string_view target, PixelBuffer& pixels, size_t& end) {
  const DcmTag& pixelData = *dataSet.TagAt(index);
  const size_t size = pixels.size;
  const size_t frames = static_cast<size_t>(a.FrameCount());
  end = index + 1;
  if (pixelData.HasUndefinedLength()) {
    end = CollectFragments(dataSet, index).end;
    if (!pixels.Allocate(size)) return false;
    if (!Decompress(dataSet, index, a.photometric, pixels.Writable(), size, a.FrameCount(),
                    a.bitsAllocated)) {
      WriteLog("ERROR, DcmObj::ConvertTransferSyntax, Exception on Decomp");
      return false;
    }
    return true;
  }
  if ((pixelData.length != size && pixelData.length != size + 1) || !pixelData.HasValue()) {
    WriteLog("ERROR, DcmObj::ConvertTransferSyntax, tag->length!=size");
    return false;
  }
  // Words read from a big-endian stream are turned into the little-endian raw form first. They
  // are ordered by the element's VR, as the writer (and DCMTK) orders them: OW holds 16-bit
  // words whatever Bits Allocated says, OB holds bytes.
  size_t word = a.bitsAllocated / 8;
  if (pixelData.IsVR("OW")) word = 2;
  if (pixelData.IsVR("OB")) word = 1;
  const uint8_t* value = pixelData.value.get();
  const bool turn = pixelData.bigEndian && (word == 2 || word == 4);
  const bool interleave = a.colour && a.planar;
  const bool ybr = a.colour && a.photometric == "YBR_FULL" && a.bitsAllocated == 8;
  if (!turn && !interleave && !ybr && IsCompressedTarget(target) && !RescalesInPlace(target)) {
    pixels.data = value;
    return true;
  }
  if (!pixels.Allocate(size)) return false;
  uint8_t* out = pixels.Writable();
  if (turn) {
    std::vector<uint8_t> turned(value, value + size);
    for (size_t k = 0; k + word <= size; k += word) std::reverse(&turned[k], &turned[k] + word);
    if (interleave) {
      Interleave(turned.data(), out, size / frames, frames,
                 std::max<size_t>(1, a.bitsAllocated / 8));
    } else {
      std::memcpy(out, turned.data(), size);
    }
  } else if (interleave) {
    Interleave(value, out, size / frames, frames, std::max<size_t>(1, a.bitsAllocated / 8));
  } else {
    std::memcpy(out, value, size);
  }
  if (ybr) YbrFullToRgb(out, size);
  return true;
}

bool PlanConversion(const DcmObj& dataSet, std::string_view target, Plan& plan) {
  PixelAttributes a;
  bool icon = false;
  for (size_t i = 0; i < dataSet.Count(); ++i) {
    const DcmTag* tag = dataSet.TagAt(i);
    if (tag == nullptr) continue;
    if (tag->HasUndefinedLength() && (tag->Is(0x0088, 0x0200) || tag->Is(0x6003, 0x1010)))
      icon = true;
    if (tag->Is(0x0008, 0x0060)) a.modality = Trimmed(*tag);
    if (tag->group == 0x0028 && !icon) {
      RememberAttribute(*tag, a);
      if (tag->element == 0x0004) {
        a.photometric = Trimmed(*tag);
        plan.photometric = a.photometric;
        if (!IsMonochromeText(a.photometric)) {
          a.colour = true;
          plan.rewrites.push_back({i, target == kJpegBaselineSyntax ? "YBR_FULL" : "RGB "});
        }
      }
      if (tag->element == 0x0006 && a.planar) plan.rewrites.push_back({i, UsBytes(0)});
      PlanRewrites(*tag, i, a, target, plan.rewrites);
    }
    if (!tag->Is(0x7FE0, 0x0010)) continue;
    if (icon) {
      icon = false;
      continue;
    }
    const uint64_t size = a.FrameSize() * static_cast<uint64_t>(a.FrameCount());
    if (size == 0) {
      WriteLog("ERROR, DcmObj::ConvertTransferSyntax, size=0");
      return false;
    }
    if (size > kMaxPixelBytes || a.bitsAllocated % 8 != 0) {
      WriteLog("ERROR, DcmObj::ConvertTransferSyntax, size=" + std::to_string(size) +
               " (Bits Allocated " + std::to_string(a.bitsAllocated) + ") cannot be converted");
      return false;
    }
    const DcmTag& pixelData = *tag;
    if (pixelData.HasUndefinedLength()) {
      // The fragments must be there, and hold enough to make the frames plausible, before the
      // buffer for the decoded frames is made.
      const Fragments fragments = CollectFragments(dataSet, i);
      uint64_t compressed = 0;
      for (size_t k = 1; k < fragments.items.size(); ++k) compressed += fragments.items[k].size();
      if (GroupFrames(fragments, static_cast<size_t>(a.FrameCount())).empty()) {
        WriteLog("ERROR, DcmObj::ConvertTransferSyntax, " +
                 std::to_string(fragments.items.empty() ? 0 : fragments.items.size() - 1) +
                 " fragments for " + std::to_string(a.FrameCount()) + " frames");
        return false;
      }
      if (size > compressed * kMaxDecodeRatio + kDecodeAllowance) {
        WriteLog("ERROR, DcmObj::ConvertTransferSyntax, " + std::to_string(compressed) +
                 " compressed bytes cannot hold " + std::to_string(size) + " bytes of frames");
        return false;
      }
    }
    PixelBuffer pixels;
    pixels.size = static_cast<size_t>(size);
    size_t end = i + 1;
    if (!ReadPixels(dataSet, i, a, target, pixels, end)) return false;
    plan.pixelEntries.clear();
    if (!Comp(a, pixels, target, plan.pixelEntries, plan.ratio)) return false;
    plan.converted = true;
    plan.pixelBegin = i;
    plan.pixelEnd = end;
    i = end - 1;
  }
  if (!plan.converted) {
    WriteLog("ERROR, DcmObj::ConvertTransferSyntax, no Pixel Data to convert");
    return false;
  }
  return true;
}

void ApplyPlan(DcmObj& dataSet, std::string_view target, Plan& plan) {
  for (const Rewrite& rewrite : plan.rewrites) {
    DcmTag& tag = *dataSet.entries[rewrite.index].tag;
    tag.SetValue(rewrite.bytes.data(), static_cast<uint32_t>(rewrite.bytes.size()));
    tag.bigEndian = false;
  }
  auto& entries = dataSet.entries;
  entries.erase(entries.begin() + static_cast<long>(plan.pixelBegin),
                entries.begin() + static_cast<long>(plan.pixelEnd));
  std::vector<DcmEntry> replacement;
  for (auto& tag : plan.pixelEntries) replacement.push_back(DcmEntry{std::move(tag), nullptr});
  entries.insert(entries.begin() + static_cast<long>(plan.pixelBegin),
                 std::make_move_iterator(replacement.begin()),
                 std::make_move_iterator(replacement.end()));
  if (target == kJpegBaselineSyntax || target == kJpegExtendedSyntax || target == kJpeg2000Syntax) {
    dataSet.AddString(0x0028, 0x2110, "01");
    dataSet.AddString(0x0028, 0x2112, RatioText(plan.ratio));
  }
}

// Encodes the frame at `offset` in `pixels`. Only the targets that rescale in place write to it,
// and their samples are always the buffer's own.
bool EncodeFrame(const PixelAttributes& a, PixelBuffer& pixels, size_t offset, size_t frameSize,
                 std::string_view target, std::vector<uint8_t>& out) {
  const uint8_t* frame = pixels.data + offset;
  const int width = a.columns;
  const int height = a.rows;
  const int components = a.colour ? 3 : 1;
  const size_t samples = frameSize / (a.bitsAllocated / 8);
  if (target == kJpegLosslessSyntax || target == kJpegLosslessProcess14) {
    if (a.bitsAllocated == 8)
      return CompressJpeg8(width, height, components, frame, out, kJpegLossless) == 0;
    return CompressJpeg16(width, height, components, frame, out) == 0;
  }
  if (target == kJpegBaselineSyntax) {
    if (a.colour || a.bitsAllocated == 8)
      return CompressJpeg8(width, height, components, frame, out, kJpegBaseline) == 0;
    std::vector<uint8_t> bytes(samples);
    RescaleTo8(frame, bytes.data(), samples, a);
    return CompressJpeg8(width, height, 1, bytes.data(), out, kJpegBaseline) == 0;
  }
  if (target == kJpegExtendedSyntax) {
    if (a.bitsStored > 12) RescaleTo12(pixels.Writable() + offset, samples, a);
    return CompressJpeg12(width, height, 1, frame, out) == 0;
  }
  // JPEG 2000.
  const bool lossless = target == kJpeg2000LosslessSyntax;
  J2KSigned sign = J2KSigned::No;
  if (!a.colour && !lossless && a.bitsAllocated == 16)
    RescaleUnsigned(pixels.Writable() + offset, samples, a);
  if (!a.colour && lossless && a.pixelRepresentation == 1) sign = J2KSigned::Yes;
  return EncodeJ2K(frame, out, width, height, components, a.bitsAllocated, lossless ? 0 : 10, sign);
}

}  // namespace

bool PixelBuffer::Allocate(size_t bytes) {
  owned.reset(new (std::nothrow) uint8_t[bytes + 1]);
  if (!owned) {
    WriteLog("ERROR, DcmObj::Comp, allocating memory: " + std::to_string(bytes));
    data = nullptr;
    return false;
  }
  data = owned.get();
  size = bytes;
  return true;
}

uint64_t PixelAttributes::FrameSize() const {
  const uint64_t size = static_cast<uint64_t>(columns) * rows * bitsAllocated / 8;
  return colour ? 3 * size : size;
}

bool Decompress(const DcmObj& dataSet, size_t pixelIndex, std::string_view photometric,
                uint8_t* buffer, size_t size, int frames, int bitsAllocated) {
  const size_t frameCount = frames < 1 ? 1 : static_cast<size_t>(frames);
  if (buffer == nullptr || size == 0 || size % frameCount != 0 || pixelIndex >= dataSet.Count()) {
    WriteLog("ERROR, DcmObj::Decompress, no frame to decode into");
    return false;
  }
  const size_t frameSize = size / frameCount;
  const Fragments fragments = CollectFragments(dataSet, pixelIndex);
  const auto groups = GroupFrames(fragments, frameCount);
  if (groups.size() != frameCount) {
    const size_t dataItems = fragments.items.empty() ? 0 : fragments.items.size() - 1;
    WriteLog("ERROR, DcmObj::Decompress, " + std::to_string(dataItems) + " fragments for " +
             std::to_string(frameCount) + " frames");
    return false;
  }
  return ForEachFrame(frameCount, [&](size_t f) {
    std::vector<uint8_t> joined;
    std::span<const uint8_t> fragment = groups[f][0];
    if (groups[f].size() > 1) {
      for (const auto& part : groups[f]) joined.insert(joined.end(), part.begin(), part.end());
      fragment = joined;
    }
    if (DecodeFrame(dataSet.transferSyntax, photometric, fragment, size, buffer + f * frameSize,
                    frameSize, bitsAllocated)) {
      return true;
    }
    WriteLog("ERROR, DcmObj::Decompress, frame " + std::to_string(f + 1) + " of " +
             std::to_string(frameCount) + " could not be decoded");
    return false;
  });
}

void RescaleTo8(const uint8_t* samples, uint8_t* out, size_t count, const PixelAttributes& a) {
  int shift = 0;
  if (a.bitsStored == 10) shift = 2;
  if (a.bitsStored == 12) shift = 4;
  if (a.bitsStored == 14) shift = 6;
  if (a.bitsStored == 16) shift = 8;
  if (a.modality == "CT") shift = 4;
  if (a.modality == "NM") shift = 0;
  for (size_t k = 0; k < count; ++k) {
    out[k] = static_cast<uint8_t>(std::clamp(RescaledValue(samples + 2 * k, a) >> shift, 0L, 255L));
  }
}

void RescaleTo12(uint8_t* samples, size_t count, const PixelAttributes& a) {
  const int shift = a.modality == "DX" || a.modality == "CR" ? 3 : 0;
  for (size_t k = 0; k < count; ++k) {
    const long value = std::clamp(RescaledValue(samples + 2 * k, a) >> shift, 0L, 4095L);
    PutWord(samples + 2 * k, static_cast<uint16_t>(value));
  }
}

void RescaleUnsigned(uint8_t* samples, size_t count, const PixelAttributes& a) {
  for (size_t k = 0; k < count; ++k) {
    const long value = std::max(RescaledValue(samples + 2 * k, a), 0L);
    PutWord(samples + 2 * k, static_cast<uint16_t>(value & 0xFFFF));
  }
}

bool Comp(const PixelAttributes& a, PixelBuffer& pixels, std::string_view target,
          std::vector<std::unique_ptr<DcmTag>>& pixelEntries, float& ratio) {
  pixelEntries.clear();
  ratio = 0;
  const size_t frameSize = static_cast<size_t>(a.FrameSize());
  const size_t frames = static_cast<size_t>(a.FrameCount());
  const size_t total = frameSize * frames;
  if (total == 0 || pixels.data == nullptr || pixels.size < total) {
    WriteLog("ERROR, DcmObj::Comp, pixel buffer of " + std::to_string(pixels.size) + " bytes for " +
             std::to_string(total));
    return false;
  }
  const bool toCompressed = IsCompressedTarget(target);
  if (!pixels.owned && (!toCompressed || RescalesInPlace(target))) {
    // Borrowed samples are never changed: the element that lends them stays as it was.
    const uint8_t* borrowed = pixels.data;
    if (!pixels.Allocate(total)) return false;
    std::memcpy(pixels.Writable(), borrowed, total);
  }
  if (!toCompressed) {
    auto element = MakeTag(0x7FE0, 0x0010, a.bitsAllocated <= 8 ? "OB" : "OW");
    const size_t padded = total + (total & 1u);
    if (padded != total) pixels.owned[total] = 0;
    element->TakeValue(std::move(pixels.owned), static_cast<uint32_t>(padded));
    pixels.data = nullptr;
    pixelEntries.push_back(std::move(element));
    return true;
  }
  if (target == kJpegExtendedSyntax && a.bitsAllocated != 16) {
    WriteLog("ERROR, DcmObj::Comp, Using Lossy 12 bit compression for 8 bit image");
    return false;
  }
  if (target == kJpegExtendedSyntax && a.colour) {
    WriteLog("ERROR, DcmObj::Comp, Lossy 12 bit compression is for monochrome images only");
    return false;
  }
  if (a.bitsAllocated != 8 && a.bitsAllocated != 16) {
    WriteLog("ERROR, DcmObj::Comp, Bits Allocated " + std::to_string(a.bitsAllocated) +
             " cannot be compressed");
    return false;
  }
  if (target == kJpegBaselineSyntax && a.colour && a.bitsAllocated != 8) {
    WriteLog("ERROR, DcmObj::Comp, baseline JPEG of 16-bit colour is not supported");
    return false;
  }
  pixelEntries.push_back(MakeTag(0x7FE0, 0x0010, "OB"));
  pixelEntries.back()->length = kUndefinedLength;
  pixelEntries.push_back(MakeTag(0xFFFE, 0xE000, "DL"));
  std::vector<std::vector<uint8_t>> outputs(frames);
  const bool encoded = ForEachFrame(frames, [&](size_t f) {
    if (EncodeFrame(a, pixels, f * frameSize, frameSize, target, outputs[f]) &&
        !outputs[f].empty()) {
      return true;
    }
    WriteLog("ERROR, DcmObj::Comp, frame " + std::to_string(f + 1) + " of " +
             std::to_string(frames) + " could not be encoded");
    return false;
  });
  if (!encoded) {
    WriteLog("ERROR, DcmObj::ConvertTransferSyntax, Exception on Comp");
    pixelEntries.clear();
    return false;
  }
  uint64_t compressed = 0;
  for (std::vector<uint8_t>& out : outputs) {
    pixelEntries.push_back(MakeFragment(out));
    compressed += pixelEntries.back()->length;
    out = std::vector<uint8_t>();
  }
  pixelEntries.push_back(MakeTag(0xFFFE, 0xE0DD, "DL"));
  ratio = static_cast<float>(static_cast<double>(total) / static_cast<double>(compressed));
  return true;
}

std::unique_ptr<DcmObj> CloneDataSet(const DcmObj& dataSet) {
  auto copy = std::make_unique<DcmObj>();
  copy->transferSyntax = dataSet.transferSyntax;
  copy->photometric = dataSet.photometric;
  copy->explicitVR = dataSet.explicitVR;
  copy->bigEndian = dataSet.bigEndian;
  copy->header.group = dataSet.header.group;
  copy->header.element = dataSet.header.element;
  std::memcpy(copy->header.vr, dataSet.header.vr, sizeof copy->header.vr);
  copy->header.bigEndian = dataSet.header.bigEndian;
  for (const DcmEntry& entry : dataSet.entries) {
    if (entry.tag) copy->Append(entry.tag->Clone());
    if (entry.obj) copy->Append(CloneDataSet(*entry.obj));
  }
  return copy;
}

bool ConvertTransferSyntax(DcmObj& dataSet, std::string_view target) {
  if (target.empty() || target == dataSet.transferSyntax) return true;
  if (IsVideoTransferSyntax(dataSet.transferSyntax)) return true;
  const bool sourceKnown =
      TransferSyntaxSupported(dataSet.transferSyntax) || IsDecodeOnlySource(dataSet.transferSyntax);
  if (!sourceKnown || !TransferSyntaxSupported(target) || target == kRleLossless ||
      target == kMpeg2Syntax) {
    // RLE and JPEG-LS are only decoded here, and an MPEG-2 label on raw samples would be false.
    WriteLog("ERROR, DcmObj::ConvertTransferSyntax, cannot convert " + dataSet.transferSyntax +
             " to " + std::string(target));
    return false;
  }
  // The VOI LUT burn-in works on a copy, so that a conversion failing later loses nothing.
  std::unique_ptr<DcmObj> copy;
  DcmObj* work = &dataSet;
  if (dataSet.GetString(0x0008, 0x0060) == "CR" && target == kJpegExtendedSyntax) {
    copy = CloneDataSet(dataSet);
    BurnInVOILUT(*copy);
    work = copy.get();
  }
  Plan plan;
  // Conversion allocates as much as the pixel data asks for; running out of memory, or of
  // threads, fails this conversion and leaves the data set as it was.
  try {
    if (!PlanConversion(*work, target, plan)) return false;
  } catch (const std::exception& failure) {
    WriteLog(std::string("ERROR, DcmObj::ConvertTransferSyntax, ") + failure.what());
    return false;
  }
  ApplyPlan(*work, target, plan);
  if (copy) dataSet.entries = std::move(copy->entries);
  dataSet.photometric = plan.photometric;
  dataSet.SetTransferSyntax(std::string(target));
  return true;
}
