// JPEG-LS frame decoder over CharLS: lossless and near-lossless codestreams.
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes a JPEG-LS codestream into `frame`: component j of pixel k at sample k * components + j,
// one byte per sample when `bitsAllocated` is 8, otherwise a 16-bit little-endian word. True only
// when the image fills exactly `frameSize` bytes; nothing is ever written beyond it. Failures are
// logged with CharLS's reason.
bool DecodeJpegLS(const uint8_t* codestream, size_t length, uint8_t* frame, size_t frameSize,
                  int bitsAllocated);
