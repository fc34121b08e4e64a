// Every transfer syntax and SOP class UID that the toolkit and the converters name, defined once,
// and one table of what the network side may send in.
#pragma once

#include <string_view>

// Transfer syntaxes.
inline constexpr const char* kImplicitVRLittleEndian = "1.2.840.10008.1.2";
inline constexpr const char* kExplicitVRLittleEndian = "1.2.840.10008.1.2.1";
inline constexpr const char* kExplicitVRBigEndian = "1.2.840.10008.1.2.2";
inline constexpr const char* kDeflatedExplicitVRLittleEndian = "1.2.840.10008.1.2.1.99";
inline constexpr const char* kRleLossless = "1.2.840.10008.1.2.5";
inline constexpr const char* kJpegBaselineSyntax = "1.2.840.10008.1.2.4.50";
inline constexpr const char* kJpegExtendedSyntax = "1.2.840.10008.1.2.4.51";
inline constexpr const char* kJpegLosslessProcess14 = "1.2.840.10008.1.2.4.57";
inline constexpr const char* kJpegLosslessSyntax = "1.2.840.10008.1.2.4.70";
inline constexpr const char* kJpegLSLosslessSyntax = "1.2.840.10008.1.2.4.80";
inline constexpr const char* kJpegLSNearLosslessSyntax = "1.2.840.10008.1.2.4.81";
inline constexpr const char* kJpeg2000LosslessSyntax = "1.2.840.10008.1.2.4.90";
inline constexpr const char* kJpeg2000Syntax = "1.2.840.10008.1.2.4.91";
inline constexpr const char* kMpeg2Syntax = "1.2.840.10008.1.2.4.100";
inline constexpr const char* kMpeg2HighLevelSyntax = "1.2.840.10008.1.2.4.101";
// MPEG-4 AVC/H.264 High Profile / Level 4.1.
inline constexpr const char* kMpeg4Syntax = "1.2.840.10008.1.2.4.102";
inline constexpr const char* kMpeg4BdSyntax = "1.2.840.10008.1.2.4.103";
// MPEG-4 AVC/H.264 High Profile / Level 4.2 For 2D Video.
inline constexpr const char* kMpeg4Level42Syntax = "1.2.840.10008.1.2.4.104";
// HEVC/H.265 Main and Main 10 profiles, level 5.1.
inline constexpr const char* kHevcMainSyntax = "1.2.840.10008.1.2.4.107";
inline constexpr const char* kHevcMain10Syntax = "1.2.840.10008.1.2.4.108";

// Storage SOP classes of the objects the converters make.
inline constexpr const char* kSecondaryCaptureClass = "1.2.840.10008.5.1.4.1.1.7";
inline constexpr const char* kBasicTextSRStorage = "1.2.840.10008.5.1.4.1.1.88.11";
inline constexpr const char* kEncapsulatedPdfClass = "1.2.840.10008.5.1.4.1.1.104.1";
inline constexpr const char* kVideoEndoscopicClass = "1.2.840.10008.5.1.4.1.1.77.1.1.1";

// One row per transfer syntax the network side knows.
struct TransferSyntaxRow {
  std::string_view uid;
  bool sendable;  // an accepted context in this syntax may carry messages
  bool video;     // pixel data is a video stream that can be neither decoded nor re-encoded here
};

inline constexpr TransferSyntaxRow kTransferSyntaxTable[] = {
    {"1.2.840.10008.1.2", true, false},
    {"1.2.840.10008.1.2.1", true, false},
    // Deflated and big-endian data sets are only ever proposed for files stored as they are.
    {"1.2.840.10008.1.2.1.99", true, false},
    {"1.2.840.10008.1.2.2", true, false},
    {"1.2.840.10008.1.2.4.50", true, false},
    {"1.2.840.10008.1.2.4.70", true, false},
    {"1.2.840.10008.1.2.4.90", true, false},
    {"1.2.840.10008.1.2.4.91", true, false},
    {"1.2.840.10008.1.2.4.100", true, true},
    {"1.2.840.10008.1.2.4.101", false, true},
    {"1.2.840.10008.1.2.4.102", true, true},
    {"1.2.840.10008.1.2.4.103", false, true},
    {"1.2.840.10008.1.2.4.104", true, true},
    {"1.2.840.10008.1.2.4.107", true, true},
    {"1.2.840.10008.1.2.4.108", true, true},
};

// An accepted presentation context whose syntax is sendable may carry messages; any other is
// never used.
constexpr bool IsSendableTransferSyntax(std::string_view uid) {
  for (const TransferSyntaxRow& row : kTransferSyntaxTable) {
    if (row.uid == uid) return row.sendable;
  }
  return false;
}

constexpr bool IsVideoTransferSyntax(std::string_view uid) {
  for (const TransferSyntaxRow& row : kTransferSyntaxTable) {
    if (row.uid == uid) return row.video;
  }
  return false;
}
