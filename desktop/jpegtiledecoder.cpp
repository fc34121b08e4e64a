// JPEG pictures decoded straight to about tile size.
#include "jpegtiledecoder.h"

#include <QFile>
#include <QtEndian>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "jpegdcdecoder.h"

namespace {

std::atomic<bool> dcDecoderInUse{true};

// The decoder takes its fast Huffman path only while a few kilobytes of input wait in its buffer;
// libjpeg's own file reader refills 4 KB at a time and so leaves that path near every refill.
constexpr qint64 kReadBytes = 256 * 1024;
// What one decoded picture may take, as the generic reader limits it too.
constexpr qint64 kMaxOutputBytes = 256LL * 1024 * 1024;
// Working memory of the decoder itself (whole-image buffers of progressive files).
constexpr long kDecoderMemoryLimit = 256L * 1024 * 1024;

// The library's default error handler ends the process; ours jumps back.
struct ErrorManager {
  jpeg_error_mgr library;
  std::jmp_buf jump;
};

void JumpOnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

// Warnings (a file cut short, a bad code) leave grey rows in the tile, as other viewers show
// them; they are not worth a line anywhere.
void IgnoreMessage(j_common_ptr, int) {}

// Reads the file in large pieces. It must stay the first member: the library sees only it.
struct FileSource {
  jpeg_source_mgr library;
  QFile* file;
  JOCTET* buffer;
  bool ended;
};

void StartReading(j_decompress_ptr) {}
void StopReading(j_decompress_ptr) {}

boolean Refill(j_decompress_ptr info) {
  auto* source = reinterpret_cast<FileSource*>(info->src);
  qint64 count = source->file->read(reinterpret_cast<char*>(source->buffer), kReadBytes);
  if (count <= 0) {
    // A file cut short ends as if its end marker came; the decoder greys the rows it lacks.
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    count = 2;
    source->ended = true;
  }
  source->library.next_input_byte = source->buffer;
  source->library.bytes_in_buffer = static_cast<size_t>(count);
  return TRUE;
}

void Skip(j_decompress_ptr info, long count) {
  auto* source = reinterpret_cast<FileSource*>(info->src);
  while (count > 0 && static_cast<size_t>(count) > source->library.bytes_in_buffer) {
    count -= static_cast<long>(source->library.bytes_in_buffer);
    Refill(info);
    // Past the end there is only the end marker put in its place: nothing more to skip.
    if (source->ended) return;
  }
  if (count <= 0) return;
  source->library.next_input_byte += count;
  source->library.bytes_in_buffer -= static_cast<size_t>(count);
}

// Everything the decoder touches after setjmp lives here, so nothing needs to survive the jump
// in a register.
struct DecodeState {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  FileSource source{};
  QImage picture;
};

// The largest reduction (8, 4, 2 or 1) whose picture still covers `size`.
unsigned ScaleDenominator(unsigned width, unsigned height, const QSize& size) {
  for (unsigned denominator : {8u, 4u, 2u}) {
    const unsigned long scaledWidth = (width + denominator - 1) / denominator;
    const unsigned long scaledHeight = (height + denominator - 1) / denominator;
    if (scaledWidth >= static_cast<unsigned long>(size.width()) &&
        scaledHeight >= static_cast<unsigned long>(size.height())) {
      return denominator;
    }
  }
  return 1;
}

bool RunDecode(DecodeState& state, QFile& file, JOCTET* buffer, const QSize& size) {
  jpeg_decompress_struct& info = state.info;
  info.err = jpeg_std_error(&state.errors.library);
  state.errors.library.error_exit = JumpOnError;
  state.errors.library.emit_message = IgnoreMessage;
  if (setjmp(state.errors.jump) != 0) return false;
  jpeg_create_decompress(&info);
  info.mem->max_memory_to_use = kDecoderMemoryLimit;
  state.source = FileSource{{}, &file, buffer, false};
  state.source.library.init_source = StartReading;
  state.source.library.fill_input_buffer = Refill;
  state.source.library.skip_input_data = Skip;
  state.source.library.resync_to_restart = jpeg_resync_to_restart;
  state.source.library.term_source = StopReading;
  info.src = &state.source.library;
  jpeg_read_header(&info, TRUE);
  info.scale_num = 1;
  info.scale_denom = ScaleDenominator(info.image_width, info.image_height, size);
  // At 1/8 scale each 8 × 8 block is one pixel, its average: the exact transform, smooth
  // upsampling of the colour planes and block smoothing add time and nothing a tile shows.
  info.dct_method = JDCT_IFAST;
  info.do_fancy_upsampling = FALSE;
  info.do_block_smoothing = FALSE;
  const bool colour = info.jpeg_color_space == JCS_YCbCr || info.jpeg_color_space == JCS_RGB ||
                      info.jpeg_color_space == JCS_GRAYSCALE;
  // Four bytes a pixel in QImage's own order, so rows land in the picture unconverted; CMYK
  // pictures are rare here and go to the generic reader.
  if (!colour) return false;
  info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
  jpeg_calc_output_dimensions(&info);
  if (info.output_width == 0 || info.output_height == 0 ||
      qint64{info.output_width} * info.output_height * 4 > kMaxOutputBytes) {
    return false;
  }
  jpeg_start_decompress(&info);
  state.picture = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                         QImage::Format_RGB32);
  if (state.picture.isNull()) return false;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = state.picture.scanLine(static_cast<int>(info.output_scanline));
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
  }
  // A file cut short: the decoder fills the missing rows itself, so the picture is whole.
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

void UseJpegDcDecoder(bool use) {
  dcDecoderInUse = use;
}

QImage DecodeJpegNearSize(const QString& path, const QSize& size) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) return {};
  char start[2] = {};
  if (file.read(start, 2) != 2 || static_cast<unsigned char>(start[0]) != 0xFF ||
      static_cast<unsigned char>(start[1]) != 0xD8 || !file.seek(0)) {
    return {};
  }
  // A baseline file at 1/8 scale: its DC coefficients suffice, read from the file mapped into
  // memory. What that decoder declines (another kind of JPEG, a larger scale, damaged data) goes
  // to libjpeg.
  if (dcDecoderInUse) {
    if (const uchar* mapped = file.map(0, file.size()); mapped != nullptr) {
      JpegDcPlanes planes;
      const bool decoded = DecodeJpegDc(mapped, static_cast<size_t>(file.size()), size, planes);
      file.unmap(const_cast<uchar*>(mapped));
      if (decoded) return JpegDcPicture(planes);
    }
  }
  std::vector<JOCTET> buffer(static_cast<size_t>(kReadBytes));
  DecodeState state;
  const bool decoded = RunDecode(state, file, buffer.data(), size);
  jpeg_destroy_decompress(&state.info);
  if (!decoded) return {};
  return std::move(state.picture);
}
