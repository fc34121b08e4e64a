// JPEG 2000 encoding and decoding of single frames through OpenJPEG's stream interface.
#include "codec_j2k.h"

#include <openjpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "log.h"

namespace {

// A growing (encoder) or fixed (decoder) byte area behind an OpenJPEG stream.
struct MemoryStream {
  std::vector<uint8_t>* output = nullptr;
  const uint8_t* input = nullptr;
  size_t size = 0;
  size_t position = 0;
};

OPJ_SIZE_T ReadBytes(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* stream = static_cast<MemoryStream*>(user);
  if (stream->position >= stream->size) return static_cast<OPJ_SIZE_T>(-1);
  const size_t n = std::min<size_t>(count, stream->size - stream->position);
  std::memcpy(buffer, stream->input + stream->position, n);
  stream->position += n;
  return n;
}

OPJ_SIZE_T WriteBytes(void* buffer, OPJ_SIZE_T count, void* user) {
  auto* stream = static_cast<MemoryStream*>(user);
  std::vector<uint8_t>& out = *stream->output;
  if (stream->position + count > out.size()) out.resize(stream->position + count);
  std::memcpy(out.data() + stream->position, buffer, count);
  stream->position += count;
  return count;
}

size_t StreamEnd(const MemoryStream& stream) {
  return stream.output ? stream.output->size() : stream.size;
}

OPJ_OFF_T SkipBytes(OPJ_OFF_T count, void* user) {
  auto* stream = static_cast<MemoryStream*>(user);
  if (count < 0 && static_cast<size_t>(-count) > stream->position) return -1;
  const size_t target = stream->position + static_cast<size_t>(count);
  if (!stream->output && target > stream->size) return -1;
  stream->position = target;
  return count;
}

OPJ_BOOL SeekTo(OPJ_OFF_T offset, void* user) {
  auto* stream = static_cast<MemoryStream*>(user);
  if (offset < 0 || (!stream->output && static_cast<size_t>(offset) > StreamEnd(*stream)))
    return OPJ_FALSE;
  stream->position = static_cast<size_t>(offset);
  return OPJ_TRUE;
}

void KeepMessage(const char* message, void* user) {
  auto* last = static_cast<std::string*>(user);
  *last = message;
  while (!last->empty() && (last->back() == '\n' || last->back() == '\r')) last->pop_back();
}

void IgnoreMessage(const char*, void*) {}

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const { opj_image_destroy(image); }
};
using Codec = std::unique_ptr<opj_codec_t, CodecDeleter>;
using Stream = std::unique_ptr<opj_stream_t, StreamDeleter>;
using Image = std::unique_ptr<opj_image_t, ImageDeleter>;

void InstallHandlers(opj_codec_t* codec, std::string& lastError) {
  opj_set_error_handler(codec, KeepMessage, &lastError);
  opj_set_warning_handler(codec, IgnoreMessage, nullptr);
  opj_set_info_handler(codec, IgnoreMessage, nullptr);
}

Stream MakeStream(MemoryStream& memory, bool input) {
  Stream stream(opj_stream_create(64 * 1024, input ? OPJ_TRUE : OPJ_FALSE));
  if (!stream) return stream;
  opj_stream_set_user_data(stream.get(), &memory, nullptr);
  if (input) {
    opj_stream_set_read_function(stream.get(), ReadBytes);
    opj_stream_set_user_data_length(stream.get(), memory.size);
  } else {
    opj_stream_set_write_function(stream.get(), WriteBytes);
  }
  opj_stream_set_skip_function(stream.get(), SkipBytes);
  opj_stream_set_seek_function(stream.get(), SeekTo);
  return stream;
}

bool Fail(const char* operation, const std::string& detail, std::vector<uint8_t>* out = nullptr) {
  if (out) out->clear();
  WriteLog(std::string("ERROR, ") + operation + ", " + detail);
  return false;
}

// A JP2 file starts with its signature box; some writers wrap the codestream although the
// transfer syntax asks for a bare one.
bool HasJp2Signature(const uint8_t* bytes, size_t length) {
  static constexpr uint8_t kSignature[] = {0, 0, 0, 0x0C, 'j', 'P', ' ', ' '};
  return length >= sizeof kSignature && std::memcmp(bytes, kSignature, sizeof kSignature) == 0;
}

}  // namespace

bool EncodeJ2K(const uint8_t* source, std::vector<uint8_t>& out, int width, int height,
               int components, int bits, int rate, J2KSigned sampleSign) {
  out.clear();
  if (source == nullptr || width <= 0 || height <= 0 || (components != 1 && components != 3) ||
      bits < 1 || bits > 16 || rate < 0) {
    return Fail("EncodeJ2K",
                "invalid frame " + std::to_string(width) + "x" + std::to_string(height) + "x" +
                    std::to_string(components) + ", bits=" + std::to_string(bits),
                &out);
  }
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.tcp_rates[0] = static_cast<float>(rate);
  parameters.cp_disto_alloc = 1;
  char comment[] = "Created by OpenJPEG version 1.3";
  parameters.cp_comment = comment;
  // Each decomposition halves the image; small frames get fewer than the default five.
  int resolutions = 1;
  while (resolutions < parameters.numresolution && (std::min(width, height) >> resolutions) > 0)
    ++resolutions;
  parameters.numresolution = resolutions;

  opj_image_cmptparm_t componentParameters[3];
  std::memset(componentParameters, 0, sizeof componentParameters);
  for (int c = 0; c < components; ++c) {
    componentParameters[c].dx = 1;
    componentParameters[c].dy = 1;
    componentParameters[c].w = static_cast<OPJ_UINT32>(width);
    componentParameters[c].h = static_cast<OPJ_UINT32>(height);
    componentParameters[c].prec = static_cast<OPJ_UINT32>(bits);
    componentParameters[c].sgnd = sampleSign == J2KSigned::Yes ? 1 : 0;
  }
  Image image(opj_image_create(static_cast<OPJ_UINT32>(components), componentParameters,
                               components == 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY));
  if (!image) return Fail("EncodeJ2K", "cannot create the image", &out);
  image->x0 = 0;
  image->y0 = 0;
  image->x1 = static_cast<OPJ_UINT32>(width);
  image->y1 = static_cast<OPJ_UINT32>(height);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (int c = 0; c < components; ++c) {
    OPJ_INT32* plane = image->comps[c].data;
    if (bits <= 8) {
      for (size_t k = 0; k < pixels; ++k) {
        const uint8_t sample = source[k * static_cast<size_t>(components) + static_cast<size_t>(c)];
        plane[k] = sampleSign == J2KSigned::Yes ? static_cast<int8_t>(sample) : sample;
      }
    } else {
      for (size_t k = 0; k < pixels; ++k) {
        const size_t at = 2 * (k * static_cast<size_t>(components) + static_cast<size_t>(c));
        const auto word = static_cast<uint16_t>(source[at] | source[at + 1] << 8);
        plane[k] = sampleSign == J2KSigned::Yes ? static_cast<int16_t>(word) : word;
      }
    }
  }

  std::string lastError;
  Codec codec(opj_create_compress(OPJ_CODEC_J2K));
  if (!codec) return Fail("EncodeJ2K", "cannot create the encoder", &out);
  InstallHandlers(codec.get(), lastError);
  if (!opj_setup_encoder(codec.get(), &parameters, image.get()))
    return Fail("EncodeJ2K", "setup: " + lastError, &out);
  MemoryStream memory;
  memory.output = &out;
  Stream stream = MakeStream(memory, false);
  if (!stream) return Fail("EncodeJ2K", "cannot create the stream", &out);
  if (!opj_start_compress(codec.get(), image.get(), stream.get()) ||
      !opj_encode(codec.get(), stream.get()) || !opj_end_compress(codec.get(), stream.get())) {
    return Fail("EncodeJ2K", "encoding: " + lastError, &out);
  }
  return true;
}

bool DecodeJ2K(const uint8_t* codestream, size_t length, uint8_t* frame, size_t frameSize,
               int bitsAllocated) {
  if (codestream == nullptr || length == 0 || frame == nullptr)
    return Fail("DecodeJ2K", "empty codestream");
  std::string lastError;
  Codec codec(
      opj_create_decompress(HasJp2Signature(codestream, length) ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K));
  if (!codec) return Fail("DecodeJ2K", "cannot create the decoder");
  InstallHandlers(codec.get(), lastError);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) return Fail("DecodeJ2K", "setup: " + lastError);
  MemoryStream memory;
  memory.input = codestream;
  memory.size = length;
  Stream stream = MakeStream(memory, true);
  if (!stream) return Fail("DecodeJ2K", "cannot create the stream");
  opj_image_t* header = nullptr;
  if (!opj_read_header(stream.get(), codec.get(), &header)) {
    opj_image_destroy(header);
    return Fail("DecodeJ2K", "header: " + lastError);
  }
  Image image(header);
  const size_t sampleBytes = bitsAllocated <= 8 ? 1 : 2;
  const size_t components = image->numcomps;
  const size_t width = image->x1 - image->x0;
  const size_t height = image->y1 - image->y0;
  // Checked before decoding, so a codestream claiming a larger image cannot make us allocate or
  // write for it.
  if (components == 0 || components > 4 || width * height * components * sampleBytes != frameSize)
    return Fail("DecodeJ2K", "image " + std::to_string(width) + "x" + std::to_string(height) + "x" +
                                 std::to_string(components) + " does not fill a frame of " +
                                 std::to_string(frameSize) + " bytes");
  for (size_t c = 0; c < components; ++c) {
    if (image->comps[c].dx != 1 || image->comps[c].dy != 1)
      return Fail("DecodeJ2K", "subsampled components are not supported");
  }
  if (!opj_decode(codec.get(), stream.get(), image.get()) ||
      !opj_end_decompress(codec.get(), stream.get())) {
    return Fail("DecodeJ2K", "decoding: " + lastError);
  }
  for (size_t c = 0; c < components; ++c) {
    if (image->comps[c].data == nullptr || image->comps[c].w != width ||
        image->comps[c].h != height) {
      return Fail("DecodeJ2K", "decoded component does not match the header");
    }
  }
  const size_t pixels = width * height;
  for (size_t c = 0; c < components; ++c) {
    const OPJ_INT32* plane = image->comps[c].data;
    for (size_t k = 0; k < pixels; ++k) {
      const size_t at = (k * components + c) * sampleBytes;
      const auto value = static_cast<uint32_t>(plane[k]);
      frame[at] = static_cast<uint8_t>(value);
      if (sampleBytes == 2) frame[at + 1] = static_cast<uint8_t>(value >> 8);
    }
  }
  return true;
}
