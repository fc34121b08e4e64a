// Inflating the data set of a Deflated Explicit VR Little Endian file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A deflated data set is believed to inflate to at most this many times its own size, plus a fixed
// allowance for the blank pixel data that deflates to almost nothing, and never past a total:
// a file of a few hundred kilobytes must not make the reader fill gigabytes of memory. Real data
// sets deflate by a few times; deflate itself cannot exceed about 1032 to 1.
inline constexpr uint64_t kMaxInflateRatio = 256;
inline constexpr uint64_t kInflateAllowance = uint64_t{32} << 20;
inline constexpr uint64_t kMaxInflatedBytes = uint64_t{2} << 30;

// The most `compressed` bytes of deflate data may inflate to under the bounds above.
uint64_t InflateLimit(uint64_t compressed);

// Inflates `size` bytes of deflate data (raw, as the transfer syntax defines it, or with a zlib
// header, as some writers put it) into `out`. False with `error` when the data is damaged, ends
// before its final block, or would inflate past `limit` bytes (by default InflateLimit(size)).
// The output never grows past the limit.
bool InflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error);
bool InflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error,
                  uint64_t limit);
