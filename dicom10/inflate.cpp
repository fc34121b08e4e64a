// Deflate decoding over zlib, growing the output as the stream inflates.
#include "inflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

// True when the bytes start with a zlib header (RFC 1950): deflate method, a valid check value.
bool HasZlibHeader(const uint8_t* data, size_t size) {
  return size >= 2 && (data[0] & 0x0F) == 8 && (data[0] >> 4) <= 7 &&
         ((data[0] << 8) | data[1]) % 31 == 0;
}

// Makes room for exactly `size` bytes: a plain resize may double the capacity past the limit.
void Grow(std::vector<uint8_t>& out, uint64_t size) {
  out.reserve(static_cast<size_t>(size));
  out.resize(static_cast<size_t>(size));
}

bool Inflate(const uint8_t* data, size_t size, int windowBits, std::vector<uint8_t>& out,
             std::string& error, uint64_t limit) {
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) {
    error = "the deflate decoder could not be started";
    return false;
  }
  out.clear();
  size_t produced = 0;
  const uint8_t* input = data;
  size_t inputLeft = size;
  int status = Z_OK;
  try {
    Grow(out, std::min<uint64_t>(limit, std::max<uint64_t>(size * 4, 1 << 16)));
    while (status != Z_STREAM_END) {
      if (produced == out.size()) {
        if (out.size() >= limit) {
          error = "the deflated data set (" + std::to_string(size) +
                  " bytes) inflates to more than " + std::to_string(limit) +
                  " bytes: refused as damaged or hostile";
          inflateEnd(&stream);
          return false;
        }
        Grow(out, std::min<uint64_t>(limit, uint64_t{out.size()} * 2));
      }
      // zlib counts in 32-bit units; feed and drain it in pieces that fit.
      const uInt in = static_cast<uInt>(std::min<size_t>(inputLeft, 1u << 30));
      const uInt room = static_cast<uInt>(std::min<size_t>(out.size() - produced, 1u << 30));
      stream.next_in = const_cast<Bytef*>(input);
      stream.avail_in = in;
      stream.next_out = out.data() + produced;
      stream.avail_out = room;
      status = inflate(&stream, Z_NO_FLUSH);
      input += in - stream.avail_in;
      inputLeft -= in - stream.avail_in;
      produced += room - stream.avail_out;
      if (status == Z_BUF_ERROR && inputLeft == 0) {
        error = "the deflated data set ends before its last block";
        inflateEnd(&stream);
        return false;
      }
      if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
        error = std::string("the deflated data set is damaged: ") +
                (stream.msg ? stream.msg : "inflate failed");
        inflateEnd(&stream);
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    inflateEnd(&stream);
    out.clear();
    error = "not enough memory to inflate the data set";
    return false;
  }
  inflateEnd(&stream);
  out.resize(produced);
  return true;
}

}  // namespace

uint64_t InflateLimit(uint64_t compressed) {
  if (compressed >= kMaxInflatedBytes / kMaxInflateRatio) return kMaxInflatedBytes;
  return std::min(kMaxInflatedBytes, compressed * kMaxInflateRatio + kInflateAllowance);
}

bool InflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
  return InflateBytes(data, size, out, error, InflateLimit(size));
}

bool InflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error,
                  uint64_t limit) {
  if (HasZlibHeader(data, size)) {
    std::string zlibError;
    if (Inflate(data, size, MAX_WBITS, out, zlibError, limit)) return true;
  }
  return Inflate(data, size, -MAX_WBITS, out, error, limit);
}
