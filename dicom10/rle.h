// The RLE Lossless decoder of PS3.5 Annex G: a segment header, then PackBits segments.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Decodes one PackBits segment of `length` bytes starting at `offset` in `fragment` (of
// `fragmentLength` bytes) into `part`, which holds `partSize` bytes. Returns the number of bytes
// written; reads stay inside the segment and the fragment, writes inside the part. When the input
// ends before the part is full, logs "ERROR, overflow decoding RLE".
size_t DecodeRLESegment(const uint8_t* fragment, size_t fragmentLength, size_t offset,
                        size_t length, uint8_t* part, size_t partSize);

// Decodes one frame of `frameSize` bytes from an RLE fragment. The segments are the bytes of
// each sample, most significant first, sample by sample: one per byte of Bits Allocated for
// monochrome and palette images, three (or six for 16-bit) for colour, which is written
// interleaved; "YBR_FULL" is turned into RGB. False, with a log line, when the header does not
// fit the image or a segment is short; the frame is then not to be used.
bool DecodeRLEFrame(std::string_view photometric, const uint8_t* fragment, size_t fragmentLength,
                    uint8_t* frame, size_t frameSize, int bitsAllocated);
