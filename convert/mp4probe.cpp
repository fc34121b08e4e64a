// Probing an MP4 file for its video frame size, rate and duration without decoding a frame.
#include "mp4probe.h"

#include <dlfcn.h>

#include <cstdio>
#include <memory>

#include "log.h"
#include "syntaxes.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

// The demuxer library and its hundred-odd dependencies are loaded the first time a video is
// probed rather than at every start of the program: most runs never see an MP4 file.
struct MediaLibrary {
  decltype(&av_log_set_level) logSetLevel = nullptr;
  decltype(&av_find_input_format) findInputFormat = nullptr;
  decltype(&avformat_open_input) openInput = nullptr;
  decltype(&avformat_close_input) closeInput = nullptr;
  decltype(&av_find_best_stream) findBestStream = nullptr;
  decltype(&avformat_find_stream_info) findStreamInfo = nullptr;
  decltype(&avformat_index_get_entries_count) indexEntriesCount = nullptr;
  decltype(&avformat_index_get_entry) indexEntry = nullptr;
  decltype(&avcodec_get_name) codecName = nullptr;
  std::string error;  // why loading failed; empty when every function was found
};

#define VELLORAN_STRINGIFY2(x) #x
#define VELLORAN_STRINGIFY(x) VELLORAN_STRINGIFY2(x)

const MediaLibrary& Media() {
  static const MediaLibrary library = [] {
    MediaLibrary loaded;
    // The same major version as the headers this file was compiled with, so the structures agree.
    const char* name = "libavformat.so." VELLORAN_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      loaded.error = reason != nullptr ? reason : name;
      return loaded;
    }
    // Symbols of libavutil are found through the handle too: it is one of the library's own
    // dependencies. The handle stays open for the life of the process.
    auto find = [&](auto& function, const char* symbol) {
      function =
          reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(handle, symbol));
      if (function == nullptr && loaded.error.empty()) loaded.error = std::string("no ") + symbol;
    };
    find(loaded.logSetLevel, "av_log_set_level");
    find(loaded.findInputFormat, "av_find_input_format");
    find(loaded.openInput, "avformat_open_input");
    find(loaded.closeInput, "avformat_close_input");
    find(loaded.findBestStream, "av_find_best_stream");
    find(loaded.findStreamInfo, "avformat_find_stream_info");
    find(loaded.indexEntriesCount, "avformat_index_get_entries_count");
    find(loaded.indexEntry, "avformat_index_get_entry");
    find(loaded.codecName, "avcodec_get_name");
    return loaded;
  }();
  return library;
}

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { Media().closeInput(&context); }
};

// The demuxer builds every stream's sample index from the header boxes alone, so the end of the
// last sample is known without reading any media data.
uint64_t SampleDataEnd(const AVFormatContext& context) {
  uint64_t end = 0;
  for (unsigned s = 0; s < context.nb_streams; ++s) {
    AVStream* stream = context.streams[s];
    const int count = Media().indexEntriesCount(stream);
    for (int i = 0; i < count; ++i) {
      const AVIndexEntry* entry = Media().indexEntry(stream, i);
      if (entry == nullptr || entry->pos < 0 || entry->size <= 0) continue;
      const uint64_t last = static_cast<uint64_t>(entry->pos) + static_cast<uint64_t>(entry->size);
      if (last > end) end = last;
    }
  }
  return end;
}

// The codec, profile and level as the decoder configuration record says them: avcC holds
// profile_idc, the constraint flags and level_idc in its bytes 1 to 3; hvcC holds the tier and
// general_profile_idc in byte 1, general_level_idc in byte 12 and the luma bit depth in byte 17.
// Without a record, what the demuxer found in the stream's own headers.
VideoEncoding EncodingOf(const AVCodecParameters& parameters) {
  VideoEncoding encoding;
  const char* name = Media().codecName(parameters.codec_id);
  encoding.name = name != nullptr ? name : "unknown";
  encoding.profile = parameters.profile >= 0 ? parameters.profile : -1;
  encoding.level = parameters.level > 0 ? parameters.level : -1;
  const uint8_t* record = parameters.extradata;
  const int recordSize = record != nullptr ? parameters.extradata_size : 0;
  if (parameters.codec_id == AV_CODEC_ID_H264) {
    encoding.codec = VideoCodec::H264;
    if (recordSize >= 4 && record[0] == 1) {
      encoding.profile = record[1];
      encoding.constraintFlags = record[2];
      encoding.level = record[3];
    }
  } else if (parameters.codec_id == AV_CODEC_ID_HEVC) {
    encoding.codec = VideoCodec::Hevc;
    if (recordSize >= 18 && record[0] == 1) {
      encoding.profile = record[1] & 0x1F;
      encoding.highTier = (record[1] & 0x20) != 0;
      encoding.level = record[12];
      encoding.bitDepth = (record[17] & 0x07) + 8;
    } else if (parameters.bits_per_raw_sample > 8) {
      encoding.bitDepth = parameters.bits_per_raw_sample;
    }
  }
  return encoding;
}

// The frames of the stream: the demuxer's count of samples, else the entries of its index, else
// what the duration and rate imply.
uint64_t FrameCount(const AVStream& stream, int64_t duration, AVRational rate) {
  if (stream.nb_frames > 0) return static_cast<uint64_t>(stream.nb_frames);
  const int entries = Media().indexEntriesCount(const_cast<AVStream*>(&stream));
  if (entries > 0) return static_cast<uint64_t>(entries);
  if (duration > 0 && rate.num > 0 && rate.den > 0) {
    return static_cast<uint64_t>(
        static_cast<double>(duration) / AV_TIME_BASE * rate.num / rate.den + 0.5);
  }
  return 0;
}

}  // namespace

std::string ResultCodeText(int32_t code) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<uint32_t>(code));
  return text;
}

int32_t GetMP4Information(const std::string& path, uint32_t& width, uint32_t& height,
                          uint32_t& frameRate, uint64_t& durationMilliseconds,
                          uint64_t* sampleDataEnd) {
  return GetMP4Information(path, width, height, frameRate, durationMilliseconds, sampleDataEnd,
                           nullptr);
}

int32_t GetMP4Information(const std::string& path, uint32_t& width, uint32_t& height,
                          uint32_t& frameRate, uint64_t& durationMilliseconds,
                          uint64_t* sampleDataEnd, VideoEncoding* encoding) {
  const MediaLibrary& media = Media();
  if (!media.error.empty()) {
    WriteLog("ERROR, GetMP4Information, Can't load the media library: " + media.error);
    return AVERROR(ENOSYS);
  }
  // The library's own messages would go to standard error; ours go to the log.
  media.logSetLevel(AV_LOG_QUIET);
  // Only the ISO media demuxer is offered, so a file that merely carries the extension is not
  // guessed into some other format.
  const AVInputFormat* mp4 = media.findInputFormat("mp4");
  AVFormatContext* opened = nullptr;
  int32_t result = media.openInput(&opened, path.c_str(), mp4, nullptr);
  if (result != 0) {
    WriteLog("ERROR, GetMP4Information, Can't open File: " + path + ", " + ResultCodeText(result));
    return result;
  }
  std::unique_ptr<AVFormatContext, FormatContextCloser> context(opened);
  int stream = media.findBestStream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream >= 0 && context->streams[stream]->codecpar->width == 0) {
    // Some files describe the frame size only in the codec's own headers.
    result = media.findStreamInfo(context.get(), nullptr);
    if (result < 0) return result;
    stream = media.findBestStream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  }
  if (stream < 0) return stream;
  const AVStream* video = context->streams[stream];
  const AVRational rate =
      video->avg_frame_rate.den != 0 ? video->avg_frame_rate : video->r_frame_rate;
  width = static_cast<uint32_t>(video->codecpar->width);
  height = static_cast<uint32_t>(video->codecpar->height);
  frameRate = rate.den > 0 && rate.num > 0 ? static_cast<uint32_t>(rate.num / rate.den) : 0;
  const int64_t duration = context->duration;
  durationMilliseconds = duration > 0 ? static_cast<uint64_t>(duration) / (AV_TIME_BASE / 1000) : 0;
  if (sampleDataEnd != nullptr) *sampleDataEnd = SampleDataEnd(*context);
  if (encoding != nullptr) {
    *encoding = EncodingOf(*video->codecpar);
    encoding->frames = FrameCount(*video, duration, rate);
    if (rate.num > 0 && rate.den > 0) {
      encoding->rateNumerator = rate.num;
      encoding->rateDenominator = rate.den;
    }
  }
  return 0;
}
