// Probing an MP4 file for its video frame size, rate and duration without decoding a frame.
#include "mp4probe.h"

#include <cstdio>
#include <memory>

#include "log.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace {

struct FormatContextCloser {
  void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

// The demuxer builds every stream's sample index from the header boxes alone, so the end of the
// last sample is known without reading any media data.
uint64_t SampleDataEnd(const AVFormatContext& context) {
  uint64_t end = 0;
  for (unsigned s = 0; s < context.nb_streams; ++s) {
    AVStream* stream = context.streams[s];
    const int count = avformat_index_get_entries_count(stream);
    for (int i = 0; i < count; ++i) {
      const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
      if (entry == nullptr || entry->pos < 0 || entry->size <= 0) continue;
      const uint64_t last = static_cast<uint64_t>(entry->pos) + static_cast<uint64_t>(entry->size);
      if (last > end) end = last;
    }
  }
  return end;
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
  // The library's own messages would go to standard error; ours go to the log.
  av_log_set_level(AV_LOG_QUIET);
  // Only the ISO media demuxer is offered, so a file that merely carries the extension is not
  // guessed into some other format.
  const AVInputFormat* mp4 = av_find_input_format("mp4");
  AVFormatContext* opened = nullptr;
  int32_t result = avformat_open_input(&opened, path.c_str(), mp4, nullptr);
  if (result != 0) {
    WriteLog("ERROR, GetMP4Information, Can't open File: " + path + ", " + ResultCodeText(result));
    return result;
  }
  std::unique_ptr<AVFormatContext, FormatContextCloser> context(opened);
  int stream = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream >= 0 && context->streams[stream]->codecpar->width == 0) {
    // Some files describe the frame size only in the codec's own headers.
    result = avformat_find_stream_info(context.get(), nullptr);
    if (result < 0) return result;
    stream = av_find_best_stream(context.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
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
  return 0;
}
