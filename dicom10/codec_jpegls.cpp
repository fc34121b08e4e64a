// JPEG-LS decoding through CharLS's C interface, which reports errors by code and never throws.
#include "codec_jpegls.h"

#include <charls/charls.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "log.h"

namespace {

struct DecoderDeleter {
  void operator()(charls_jpegls_decoder* decoder) const { charls_jpegls_decoder_destroy(decoder); }
};
using Decoder = std::unique_ptr<charls_jpegls_decoder, DecoderDeleter>;

bool Fail(const std::string& step, charls_jpegls_errc code) {
  WriteLog("ERROR, DecodeJpegLS, " + step + ": " + charls_get_error_message(code));
  return false;
}

bool Fail(const std::string& reason) {
  WriteLog("ERROR, DecodeJpegLS, " + reason);
  return false;
}

}  // namespace

bool DecodeJpegLS(const uint8_t* codestream, size_t length, uint8_t* frame, size_t frameSize,
                  int bitsAllocated) {
  if (codestream == nullptr || length == 0) return Fail("empty fragment");
  Decoder decoder(charls_jpegls_decoder_create());
  if (!decoder) return Fail("the decoder could not be created");
  charls_jpegls_errc code =
      charls_jpegls_decoder_set_source_buffer(decoder.get(), codestream, length);
  if (code == charls::jpegls_errc::success) code = charls_jpegls_decoder_read_header(decoder.get());
  if (code != charls::jpegls_errc::success) return Fail("header", code);
  charls_frame_info info{};
  charls_interleave_mode interleave = charls::interleave_mode::none;
  code = charls_jpegls_decoder_get_frame_info(decoder.get(), &info);
  if (code == charls::jpegls_errc::success)
    code = charls_jpegls_decoder_get_interleave_mode(decoder.get(), &interleave);
  if (code != charls::jpegls_errc::success) return Fail("header", code);
  size_t decodedSize = 0;
  code = charls_jpegls_decoder_get_destination_size(decoder.get(), 0, &decodedSize);
  if (code != charls::jpegls_errc::success) return Fail("size", code);

  const size_t sampleBytes = info.bits_per_sample <= 8 ? 1 : 2;
  const size_t components = info.component_count;
  const size_t samples = static_cast<size_t>(info.width) * info.height * components;
  const size_t wanted = bitsAllocated == 8 ? samples : 2 * samples;
  if (components == 0 || samples == 0 || wanted != frameSize ||
      decodedSize != samples * sampleBytes || (bitsAllocated == 8 && sampleBytes != 1) ||
      (bitsAllocated != 8 && bitsAllocated != 16)) {
    return Fail("the codestream holds " + std::to_string(info.width) + " x " +
                std::to_string(info.height) + " pixels of " + std::to_string(components) + " x " +
                std::to_string(info.bits_per_sample) + " bits, not the " +
                std::to_string(frameSize) + "-byte frame of " + std::to_string(bitsAllocated) +
                "-bit samples the data set describes");
  }
  // Decoded as it comes when it is the frame's layout already; planes (interleave mode none with
  // colour) and bytes that become words go through a buffer.
  const bool planar = interleave == charls::interleave_mode::none && components > 1;
  const bool widen = sampleBytes == 1 && bitsAllocated != 8;
  std::vector<uint8_t> decoded;
  uint8_t* target = frame;
  if (planar || widen) {
    decoded.resize(decodedSize);
    target = decoded.data();
  }
  code = charls_jpegls_decoder_decode_to_buffer(decoder.get(), target, decodedSize, 0);
  if (code != charls::jpegls_errc::success) return Fail("decoding", code);
  if (target == frame) return true;
  const size_t pixels = samples / components;
  for (size_t k = 0; k < pixels; ++k) {
    for (size_t c = 0; c < components; ++c) {
      const size_t from = planar ? c * pixels + k : k * components + c;
      const size_t to = k * components + c;
      if (widen) {
        frame[2 * to] = decoded[from];
        frame[2 * to + 1] = 0;
      } else {
        std::memcpy(frame + to * sampleBytes, decoded.data() + from * sampleBytes, sampleBytes);
      }
    }
  }
  return true;
}
