// JPEG pictures through libjpeg-turbo: decoding to RGB and baseline encoding at a given quality.
#include "jpegfile.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <jpeglib.h>

// After jpeglib.h, which it needs.
#include <jerror.h>

namespace {

// The library's default error handler ends the process; ours jumps back with the message.
struct ErrorManager {
  jpeg_error_mgr library;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JumpOnError(j_common_ptr info) {
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

// Warnings that mean pixels were lost: the data ended early, was corrupt or held a bad code, a
// marker turned up inside the entropy-coded data, or the decoder had to resynchronise. A file
// with any of them decodes "fine" with grey or smeared rows, which we refuse rather than store
// as if it were the picture. Other warnings ("extraneous bytes before marker", an unknown JFIF
// revision...) are common in camera and phone files and lose nothing.
bool LosesData(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_BOGUS_PROGRESSION:
      return true;
    default:
      return false;
  }
}

void NoteWarning(j_common_ptr info, int level) {
  if (level >= 0) return;
  if (!LosesData(info->err->msg_code)) return;
  auto* manager = reinterpret_cast<ErrorManager*>(info->err);
  ++manager->library.num_warnings;
  if (manager->library.num_warnings == 1) (*info->err->format_message)(info, manager->message);
}

// The decoder's own working memory (whole-image coefficient buffers of progressive files) is
// limited too: a 100-megapixel progressive photo needs about 300 MB.
constexpr long kDecoderMemoryLimit = 512L * 1024 * 1024;

// Hands the decoder's errors to `errors` (fatal ones jump back, warnings that lose pixels are
// counted), before the caller's setjmp.
void WatchErrors(jpeg_decompress_struct& info, ErrorManager& errors) {
  info.err = jpeg_std_error(&errors.library);
  errors.library.error_exit = JumpOnError;
  errors.library.emit_message = NoteWarning;
}

// Creates the decoder on the stream in `bytes` and reads its header. Called after the caller's
// setjmp, to which a damaged header jumps.
void OpenDecoder(jpeg_decompress_struct& info, const uint8_t* bytes, size_t size) {
  jpeg_create_decompress(&info);
  info.mem->max_memory_to_use = kDecoderMemoryLimit;
  jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
}

// Everything the decoder touches after setjmp lives here, so nothing needs to survive the jump
// in a register.
struct DecodeState {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  RgbBitmap bitmap;
  std::vector<uint8_t> scanline;  // one CMYK row when the picture needs converting
  std::string problem;
};

// Adobe writes CMYK and YCCK JPEGs with inverted values; that is what photo tools produce.
void CmykRowToRgb(const uint8_t* cmyk, uint8_t* rgb, uint32_t width, bool inverted) {
  for (uint32_t x = 0; x < width; ++x) {
    unsigned c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    rgb[3 * x] = static_cast<uint8_t>(c * k / 255);
    rgb[3 * x + 1] = static_cast<uint8_t>(m * k / 255);
    rgb[3 * x + 2] = static_cast<uint8_t>(y * k / 255);
  }
}

bool RunDecode(DecodeState& state, const uint8_t* bytes, size_t size) {
  jpeg_decompress_struct& info = state.info;
  WatchErrors(info, state.errors);
  if (setjmp(state.errors.jump) != 0) {
    state.problem = state.errors.message;
    return false;
  }
  OpenDecoder(info, bytes, size);
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  state.problem = CheckPictureSize(info.image_width, info.image_height);
  if (!state.problem.empty()) return false;
  jpeg_start_decompress(&info);
  RgbBitmap& bitmap = state.bitmap;
  bitmap.width = info.output_width;
  bitmap.height = info.output_height;
  const size_t stride = size_t{bitmap.width} * 3;
  // A picture its file can plausibly hold gets its buffer at once; one whose header claims more
  // grows row by row, so memory follows the rows really decoded.
  const bool plausible = CheckPictureEvidence(bitmap.width, bitmap.height, size).empty();
  if (plausible) bitmap.rgb.resize(stride * bitmap.height);
  if (cmyk) state.scanline.resize(size_t{bitmap.width} * 4);
  while (info.output_scanline < info.output_height) {
    const uint32_t line = info.output_scanline;
    if (!plausible) bitmap.rgb.resize(stride * (size_t{line} + 1));
    uint8_t* row = &bitmap.rgb[size_t{line} * stride];
    JSAMPROW rows[1] = {cmyk ? state.scanline.data() : row};
    if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    // Pixels were lost: no sense in decoding (and holding) the grey rows that follow.
    if (state.errors.library.num_warnings != 0) break;
    if (cmyk) {
      const bool inverted = info.saw_Adobe_marker;
      CmykRowToRgb(state.scanline.data(), &bitmap.rgb[size_t{line} * bitmap.width * 3],
                   bitmap.width, inverted);
    }
  }
  if (state.errors.library.num_warnings == 0) jpeg_finish_decompress(&info);
  if (state.errors.library.num_warnings != 0 || info.output_scanline < info.output_height) {
    state.problem =
        std::string("the JPEG data is damaged or truncated (") + state.errors.message + ")";
    return false;
  }
  return true;
}

struct EncodeState {
  jpeg_compress_struct info{};
  ErrorManager errors{};
  unsigned char* output = nullptr;
  unsigned long outputSize = 0;
  std::string problem;
};

// Sets a created encoder up for three-component pictures of the given colour space and starts it,
// writing into memory. The defaults are what we need: YCbCr, 2x2 chroma subsampling, standard
// Huffman tables, sequential (not progressive) coding.
void StartBaselineEncoder(jpeg_compress_struct& info, JDIMENSION width, JDIMENSION height,
                          J_COLOR_SPACE colorSpace, int quality, unsigned char*& output,
                          unsigned long& outputSize) {
  jpeg_mem_dest(&info, &output, &outputSize);
  info.image_width = width;
  info.image_height = height;
  info.input_components = 3;
  info.in_color_space = colorSpace;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
}

bool RunEncode(EncodeState& state, const RgbBitmap& bitmap, int quality) {
  jpeg_compress_struct& info = state.info;
  info.err = jpeg_std_error(&state.errors.library);
  state.errors.library.error_exit = JumpOnError;
  if (setjmp(state.errors.jump) != 0) {
    state.problem = state.errors.message;
    return false;
  }
  jpeg_create_compress(&info);
  StartBaselineEncoder(info, bitmap.width, bitmap.height, JCS_RGB, quality, state.output,
                       state.outputSize);
  const size_t stride = size_t{bitmap.width} * 3;
  while (info.next_scanline < info.image_height) {
    JSAMPROW rows[1] = {const_cast<uint8_t*>(&bitmap.rgb[info.next_scanline * stride])};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  return true;
}

// The decoder and the encoder of a re-encoding share one error manager, so one jump ends both.
struct ReencodeState {
  jpeg_decompress_struct decoder{};
  jpeg_compress_struct encoder{};
  ErrorManager errors{};
  bool encoderCreated = false;
  std::vector<uint8_t> strip;
  std::vector<JSAMPROW> rows;
  unsigned char* output = nullptr;
  unsigned long outputSize = 0;
  std::string problem;
};

Reencoded RunReencode(ReencodeState& state, const uint8_t* bytes, size_t size, int quality) {
  jpeg_decompress_struct& in = state.decoder;
  jpeg_compress_struct& out = state.encoder;
  WatchErrors(in, state.errors);
  out.err = in.err;
  if (setjmp(state.errors.jump) != 0) {
    state.problem = state.errors.message;
    return Reencoded::Failed;
  }
  OpenDecoder(in, bytes, size);
  if (in.jpeg_color_space != JCS_YCbCr || in.num_components != 3) return Reencoded::NotYCbCr;
  state.problem = CheckPictureSize(in.image_width, in.image_height);
  if (!state.problem.empty()) return Reencoded::Failed;
  in.out_color_space = JCS_YCbCr;
  jpeg_start_decompress(&in);

  jpeg_create_compress(&out);
  state.encoderCreated = true;
  StartBaselineEncoder(out, in.output_width, in.output_height, JCS_YCbCr, quality, state.output,
                       state.outputSize);

  // A strip of rows as tall as the decoder hands out at once, so each call fills it.
  const size_t stride = size_t{in.output_width} * 3;
  const unsigned stripRows = std::max(in.rec_outbuf_height, 16);
  state.strip.resize(stride * stripRows);
  state.rows.resize(stripRows);
  for (unsigned r = 0; r < stripRows; ++r) state.rows[r] = &state.strip[r * stride];
  while (in.output_scanline < in.output_height) {
    const JDIMENSION read = jpeg_read_scanlines(&in, state.rows.data(), stripRows);
    if (read == 0) break;
    // Pixels were lost: the grey rows that follow are not worth encoding.
    if (state.errors.library.num_warnings != 0) break;
    jpeg_write_scanlines(&out, state.rows.data(), read);
  }
  if (state.errors.library.num_warnings != 0) {
    state.problem =
        std::string("the JPEG data is damaged or truncated (") + state.errors.message + ")";
    return Reencoded::Failed;
  }
  if (out.next_scanline < out.image_height) {
    state.problem = "the JPEG data ended before its last row";
    return Reencoded::Failed;
  }
  jpeg_finish_decompress(&in);
  jpeg_finish_compress(&out);
  if (state.errors.library.num_warnings != 0) {
    state.problem =
        std::string("the JPEG data is damaged or truncated (") + state.errors.message + ")";
    return Reencoded::Failed;
  }
  return Reencoded::Done;
}

struct CheckState {
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  std::string problem;
};

bool RunCheck(CheckState& state, const uint8_t* bytes, size_t size) {
  jpeg_decompress_struct& info = state.info;
  WatchErrors(info, state.errors);
  if (setjmp(state.errors.jump) != 0) {
    state.problem = state.errors.message;
    return false;
  }
  OpenDecoder(info, bytes, size);
  state.problem = CheckPictureSize(info.image_width, info.image_height);
  if (!state.problem.empty()) return false;
  // Entropy decoding of every block, without the transform: what finds a cut or damaged stream.
  jpeg_read_coefficients(&info);
  if (state.errors.library.num_warnings != 0) {
    state.problem =
        std::string("the JPEG data is damaged or truncated (") + state.errors.message + ")";
    return false;
  }
  jpeg_finish_decompress(&info);
  return true;
}

}  // namespace

bool JpegDecodesCleanly(const uint8_t* bytes, size_t size, std::string& error) {
  auto state = std::make_unique<CheckState>();
  const bool clean = RunCheck(*state, bytes, size);
  jpeg_destroy_decompress(&state->info);
  if (!clean) error = state->problem;
  return clean;
}

Reencoded ReencodeYCbCrJpeg(const uint8_t* bytes, size_t size, int quality,
                            std::vector<uint8_t>& stream, uint32_t& width, uint32_t& height,
                            std::string& error) {
  auto state = std::make_unique<ReencodeState>();
  const Reencoded result = RunReencode(*state, bytes, size, quality);
  if (result == Reencoded::Done) {
    stream.assign(state->output, state->output + state->outputSize);
    width = state->encoder.image_width;
    height = state->encoder.image_height;
  }
  if (state->encoderCreated) jpeg_destroy_compress(&state->encoder);
  jpeg_destroy_decompress(&state->decoder);
  std::free(state->output);
  if (result == Reencoded::Failed) error = state->problem;
  return result;
}

bool DecodeJpeg(const uint8_t* bytes, size_t size, RgbBitmap& bitmap, std::string& error) {
  auto state = std::make_unique<DecodeState>();
  const bool decoded = RunDecode(*state, bytes, size);
  jpeg_destroy_decompress(&state->info);
  if (!decoded) {
    error = state->problem;
    return false;
  }
  bitmap = std::move(state->bitmap);
  return true;
}

bool EncodeJpegBaseline(const RgbBitmap& bitmap, int quality, std::vector<uint8_t>& stream,
                        std::string& error) {
  auto state = std::make_unique<EncodeState>();
  const bool encoded = RunEncode(*state, bitmap, quality);
  jpeg_destroy_compress(&state->info);
  if (encoded) stream.assign(state->output, state->output + state->outputSize);
  std::free(state->output);
  if (!encoded) error = state->problem;
  return encoded;
}
