// JPEG 2000 frame codec over OpenJPEG: bare J2K codestreams, no JP2 wrapper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class J2KSigned { No, Yes };

// Encodes one frame of interleaved samples (bytes for `bits` up to 8, 16-bit little-endian words
// up to 16) into a J2K codestream in `out`. `rate` 0 is lossless (reversible wavelet); any other
// value is the compression ratio of the single quality layer. False on failure (logged), with
// `out` empty.
bool EncodeJ2K(const uint8_t* source, std::vector<uint8_t>& out, int width, int height,
               int components, int bits, int rate, J2KSigned sampleSign = J2KSigned::No);

// Decodes a codestream into `frame`: component j of pixel k at sample k * components + j, one
// byte per sample when `bitsAllocated` is 8, otherwise a 16-bit little-endian word. True only when
// the image fills exactly `frameSize` bytes; nothing is ever written beyond it.
bool DecodeJ2K(const uint8_t* codestream, size_t length, uint8_t* frame, size_t frameSize,
               int bitsAllocated);
