// C-STORE against DCMTK's storescp accepting one transfer syntax at a time: objects are converted
// to what the peer accepted, and the pixels it received decode to the pixels that were sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "captured_log.h"
#include "dcmtk_peer.h"
#include "dicomfile.h"
#include "pdu_service.h"
#include "storage.h"

using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

constexpr const char* kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
constexpr const char* kJpegLossless = "1.2.840.10008.1.2.4.70";
constexpr const char* kJ2kLossless = "1.2.840.10008.1.2.4.90";
constexpr const char* kJ2kLossy = "1.2.840.10008.1.2.4.91";
constexpr uint16_t kColumns = 64;
constexpr uint16_t kRows = 48;

bool HavePeers() {
  return testsupport::HaveProgram("storescp") && testsupport::HaveProgram("dcmcjpeg") &&
         testsupport::HaveProgram("dcmdjpeg") && testsupport::HaveProgram("opj_decompress");
}

// Pixels of an 8-bit binary PGM as written by opj_decompress (which adds a comment line).
std::string PgmPixels(const std::string& pgm) {
  size_t at = 0;
  std::vector<std::string> fields;
  while (fields.size() < 4 && at < pgm.size()) {
    if (pgm[at] == '#') {
      at = pgm.find('\n', at);
      if (at == std::string::npos) return {};
    } else if (!std::isspace(static_cast<unsigned char>(pgm[at]))) {
      const size_t end = pgm.find_first_of(" \t\r\n", at);
      if (end == std::string::npos) return {};
      fields.push_back(pgm.substr(at, end - at));
      at = end;
    }
    ++at;
  }
  if (fields.size() != 4 || fields[0] != "P5" || fields[3] != "255") return {};
  return pgm.substr(at);
}

// The pixels of a received file as an independent decoder sees them: DCMTK for JPEG, OpenJPEG's
// own tool for JPEG 2000, the plain bytes for native encodings.
std::string DecodedPixels(const std::filesystem::path& file, const TempDir& work) {
  DicomFile dicom;
  std::string error;
  if (!ReadDicomFile(file.string(), dicom, error)) return "unreadable: " + error;
  const std::string syntax = dicom.meta.GetString(0x0002, 0x0010);
  if (syntax == kJpegBaseline || syntax == kJpegLossless) {
    const auto native = work / "decoded.dcm";
    const auto result = RunCommand({"dcmdjpeg", "+te", file.string(), native.string()});
    if (result.exitCode != 0) return "dcmdjpeg failed: " + result.errors;
    DicomFile decoded;
    if (!ReadDicomFile(native.string(), decoded, error)) return "unreadable: " + error;
    return dcmtkpeer::NativePixels(decoded.dataSet);
  }
  if (syntax == kJ2kLossless || syntax == kJ2kLossy) {
    testsupport::WriteFile(work / "frame.j2k", dcmtkpeer::FirstFragment(dicom.dataSet));
    const auto result = RunCommand({"opj_decompress", "-i", (work / "frame.j2k").string(), "-o",
                                    (work / "frame.pgm").string()});
    if (result.exitCode != 0) return "opj_decompress failed: " + result.output;
    return PgmPixels(testsupport::ReadFile(work / "frame.pgm"));
  }
  return dcmtkpeer::NativePixels(dicom.dataSet);
}

double MeanDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double total = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    total += std::abs(int{static_cast<uint8_t>(a[i])} - int{static_cast<uint8_t>(b[i])});
  }
  return total / static_cast<double>(a.size());
}

// The source objects: the native pattern, and DCMTK's own JPEG encodings of it.
std::unique_ptr<DcmObj> Source(const std::string& kind, const TempDir& work) {
  auto native = dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.1", kColumns, kRows);
  if (kind == "native") return native;
  const auto nativeFile = work / "source-native.dcm";
  const auto encodedFile = work / ("source-" + kind + ".dcm");
  native->SaveToFile(nativeFile.string(), kSecondaryCapture, "1.2.826.0.1.3680043.10.1");
  const std::string option = kind == "baseline" ? "+eb" : "+e1";
  if (RunCommand({"dcmcjpeg", option, nativeFile.string(), encodedFile.string()}).exitCode != 0) {
    return nullptr;
  }
  DicomFile encoded;
  std::string error;
  if (!ReadDicomFile(encodedFile.string(), encoded, error)) return nullptr;
  auto dataSet = std::make_unique<DcmObj>();
  dataSet->SetTransferSyntax(encoded.dataSet.transferSyntax);
  dataSet->entries = std::move(encoded.dataSet.entries);
  return dataSet;
}

// Proposes the object's own encoding and `alsoProposed` (as a sender that can convert would),
// so that a peer accepting only the latter makes the conversion necessary.
int StoreOne(const std::string& port, DcmObj& dataSet, const std::string& alsoProposed) {
  PDU_Service service;
  int status = -100;
  const bool opened = OpenAssociation(service, "VELLORAN", "STORESCP", "127.0.0.1", port,
                                      kSecondaryCapture, dataSet.transferSyntax, alsoProposed, 10);
  if (opened) {
    status = WriteStoreRQ(service, dataSet, kSecondaryCapture);
    if (status == kStoreWritten) status = ReadStoreRSP(service);
  }
  // An association that was opened is released in order.
  EXPECT_EQ(CloseAssociation(service), opened);
  return status;
}

TEST(StoreToStorescp, ImagesArriveInTheOnlyAcceptedEncodingWithTheirPixels) {
  ASSERT_TRUE(HavePeers()) << "DCMTK or OpenJPEG tools missing (scripts/setup.sh installs them)";
  struct Case {
    const char* source;
    const char* accepted;
    double tolerance;  // mean absolute difference allowed; 0 for lossless paths
  };
  const Case cases[] = {
      {"native", kImplicitVRLittleEndian, 0},
      {"native", kJpegLossless, 0},
      {"native", kJ2kLossless, 0},
      {"native", kJpegBaseline, 3},
      {"native", kJ2kLossy, 12},  // rate 10 on a small picture: visibly lossy, never garbage
      {"baseline", kImplicitVRLittleEndian, 3},
      {"lossless", kJ2kLossless, 0},
      {"lossless", kExplicitVRLittleEndian, 0},
  };
  TempDir work;
  const std::string original = dcmtkpeer::NativePixels(*Source("native", work));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " to " + c.accepted);
    TempDir folder;
    dcmtkpeer::StoreSCP peer(folder.path(), {kSecondaryCapture}, {c.accepted});
    ASSERT_TRUE(peer.Running());
    auto dataSet = Source(c.source, work);
    ASSERT_NE(dataSet, nullptr);
    EXPECT_EQ(StoreOne(peer.Port(), *dataSet, c.accepted), 0);
    const auto received = peer.Received();
    ASSERT_EQ(received.size(), 1u);
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(received[0].string(), file, error)) << error;
    EXPECT_EQ(file.meta.GetString(0x0002, 0x0010), c.accepted);
    EXPECT_EQ(file.dataSet.GetString(0x0010, 0x0010), "PATTERN^TEST");
    const std::string pixels = DecodedPixels(received[0], work);
    if (c.tolerance == 0) {
      EXPECT_TRUE(pixels == original) << "lossless path changed the pixels";
    } else {
      EXPECT_LT(MeanDifference(pixels, original), c.tolerance);
    }
  }
}

// The message IDs themselves are checked against the scripted peer (storescp ignores them).
TEST(StoreToStorescp, TwoObjectsOnOneAssociationAreBothStored) {
  ASSERT_TRUE(HavePeers()) << "DCMTK tools missing (scripts/setup.sh installs them)";
  TempDir folder;
  dcmtkpeer::StoreSCP peer(folder.path(), {kSecondaryCapture}, {kExplicitVRLittleEndian});
  ASSERT_TRUE(peer.Running());
  PDU_Service service;
  ASSERT_TRUE(OpenAssociation(service, "VELLORAN", "STORESCP", "127.0.0.1", peer.Port(),
                              kSecondaryCapture, kExplicitVRLittleEndian, "", 10));
  for (const char* uid : {"1.2.826.0.1.3680043.10.7", "1.2.826.0.1.3680043.10.8"}) {
    auto image = dcmtkpeer::NativeImage(uid, 16, 16);
    ASSERT_EQ(WriteStoreRQ(service, *image, kSecondaryCapture), kStoreWritten);
    EXPECT_EQ(ReadStoreRSP(service), 0);
  }
  EXPECT_TRUE(CloseAssociation(service));
  std::vector<std::string> instances;
  for (const auto& path : peer.Received()) {
    DicomFile file;
    std::string error;
    ASSERT_TRUE(ReadDicomFile(path.string(), file, error)) << error;
    instances.push_back(file.dataSet.GetString(0x0008, 0x0018));
  }
  std::sort(instances.begin(), instances.end());
  EXPECT_EQ(instances,
            (std::vector<std::string>{"1.2.826.0.1.3680043.10.7", "1.2.826.0.1.3680043.10.8"}));
}

TEST(StoreToStorescp, TlsAssociationStoresAndVerifiesThePeer) {
  ASSERT_TRUE(HavePeers() && testsupport::HaveProgram("openssl"))
      << "DCMTK or openssl missing (scripts/setup.sh installs them)";
  TempDir keys;
  const auto key = (keys / "server.key").string();
  const auto cert = (keys / "server.pem").string();
  ASSERT_EQ(RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                        "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                        "subjectAltName=IP:127.0.0.1"})
                .exitCode,
            0);
  TempDir folder;
  dcmtkpeer::StoreSCP peer(folder.path(), {kSecondaryCapture}, {kExplicitVRLittleEndian},
                           {"+tls", key, cert, "-ic"});
  ASSERT_TRUE(peer.Running());
  struct Case {
    const char* name;
    std::string caFile;
    bool stored;
  };
  TempDir other;
  const auto otherKey = (other / "other.key").string();
  const auto otherCert = (other / "other.pem").string();
  ASSERT_EQ(RunCommand({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                        otherKey, "-out", otherCert, "-days", "1", "-subj", "/CN=other"})
                .exitCode,
            0);
  const Case cases[] = {
      {"unverified", "", true},
      {"verified against its own certificate", cert, true},
      {"verified against an unrelated CA", otherCert, false},
  };
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PDU_Service service;
    service.UseTLS = true;
    service.TrustedCAFile = c.caFile;
    auto image =
        dcmtkpeer::NativeImage("1.2.826.0.1.3680043.10.2" + std::to_string(++index), 16, 16);
    int status = -100;
    const bool opened = OpenAssociation(service, "VELLORAN", "STORESCP", "127.0.0.1", peer.Port(),
                                        kSecondaryCapture, kExplicitVRLittleEndian, "", 10);
    if (opened) {
      status = WriteStoreRQ(service, *image, kSecondaryCapture);
      if (status == kStoreWritten) status = ReadStoreRSP(service);
    }
    EXPECT_EQ(CloseAssociation(service), opened);
    EXPECT_EQ(status == 0, c.stored) << "status " << status;
  }
  EXPECT_EQ(peer.Received().size(), 2u);
}

}  // namespace
