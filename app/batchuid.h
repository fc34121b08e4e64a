// Batch UIDs that stay unique and short: installation identity, batch stamps, the batch root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A text that stays the same for this installation: the machine's identity (/etc/machine-id or
// D-Bus's copy), else the host name; never shorter than 8 characters.
std::string InstallationId();

// A number unique to one batch on this machine: tenths of a second since 2020-01-01 UTC, made
// strictly greater than every stamp handed out before, also by other processes (they meet in a
// small lock file in the temporary folder).
uint64_t NextBatchStamp();

// The longest instance UID of a batch is its root + ".10." + the item count in decimal; UIDs are
// limited to 64 characters.
inline constexpr size_t kMaxUidLength = 64;

// The batch UID root built from GenerateUid's result: its minute-resolution time component is
// replaced by `stamp` (so two batches with the same patient and accession within one minute get
// different roots), empty components left by dots in the IDs are dropped, and the
// patient/accession components are shortened from the front until root + ".10." + itemCount fits
// 64 characters. Empty when `generatedUid` is empty.
std::string MakeBatchUidRoot(std::string_view generatedUid, uint64_t stamp, size_t itemCount);
