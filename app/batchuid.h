// Batch UIDs that stay unique and short: installation identity, batch stamps, the batch root.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "usermessage.h"

// A text that stays the same for this installation: the machine's identity (/etc/machine-id or
// D-Bus's copy), else the host name; never shorter than 8 characters.
std::string InstallationId();

// How long a batch waits for the stamp file while another process of the same user holds it
// (which takes microseconds): short enough that the window never seems to freeze.
inline constexpr std::chrono::milliseconds kBatchStampWait{1000};

// The name of the stamp file in the user's private runtime folder (see PrivateRuntimeFolder).
inline constexpr const char* kBatchStampFileName = "velloran-batch-stamp";

// A number unique to one batch of this user on this machine: tenths of a second since
// 2020-01-01 UTC, made strictly greater than every stamp handed out before, also by the user's
// other processes (they meet in the stamp file, locked for the exchange). The file lives where
// no other user can reach it, so nobody else can hold the lock or plant a link there. Nullopt,
// with the message for the user in `problem`, when another process held the file for all of
// `wait`. Without any private folder the stamp comes from this process alone, after a warning in
// the log.
std::optional<uint64_t> NextBatchStamp(UserMessage& problem,
                                       std::chrono::milliseconds wait = kBatchStampWait);

// The number that keeps the batches of different users apart: the user's numeric ID.
uint64_t UidUserComponent();

// The longest instance UID of a batch is its root + ".10." + the item count in decimal; UIDs are
// limited to 64 characters.
inline constexpr size_t kMaxUidLength = 64;

// The batch UID root built from GenerateUid's result: its minute-resolution time component is
// replaced by `user` and `stamp` (so two batches with the same patient and accession within one
// minute get different roots, also when two users of one machine make them in the same tenth of
// a second), empty components left by dots in the IDs are dropped, and the patient/accession
// components are shortened from the front until root + ".10." + itemCount fits 64 characters.
// Only when that is not enough (a user ID of many digits in a very large batch) does the user
// component lose its leading digits. Empty when `generatedUid` is empty.
std::string MakeBatchUidRoot(std::string_view generatedUid, uint64_t user, uint64_t stamp,
                             size_t itemCount);
