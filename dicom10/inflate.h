// Inflating the data set of a Deflated Explicit VR Little Endian file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Inflates `size` bytes of deflate data (raw, as the transfer syntax defines it, or with a zlib
// header, as some writers put it) into `out`. False with `error` when the data is damaged, ends
// before its final block, or would inflate past `limit` bytes.
bool InflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error,
                  uint64_t limit = 0xFFFFFFFEull);
