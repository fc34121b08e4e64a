// Storing existing files against a scripted peer: the data set streamed from the file in
// fragments across the read chunks, the in-memory conversion when the peer accepts another
// encoding, and a file that cannot be read to its end while it is being sent.
#include "storefiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "captured_log.h"
#include "dimse.h"
#include "pdu_service.h"
#include "scripted_peer.h"
#include "storage.h"
#include "testsupport.h"

using testpeer::Bytes;
using testpeer::ScriptedPeer;
using testpeer::Step;

namespace {

constexpr const char* kSecondaryCapture = "1.2.840.10008.5.1.4.1.1.7";
constexpr const char* kCtImage = "1.2.840.10008.5.1.4.1.1.2";
constexpr size_t kChunk = 1 << 20;       // the file is read in pieces of this size
constexpr size_t kFragment = 16384 - 6;  // data bytes per PDU under the peer's 16384 limit

// A MONOCHROME2 image file in Explicit VR Little Endian: by default an 8-bit Secondary Capture
// whose pixels follow a pattern that repeats only every 251 bytes; with `bitsStored` above 8, two
// bytes per pixel.
std::string WriteImageFile(const testsupport::TempDir& dir, const std::string& instanceUid,
                           uint16_t columns, uint16_t rows, uint16_t bitsStored = 8,
                           const char* sopClass = kSecondaryCapture) {
  const uint16_t bitsAllocated = bitsStored > 8 ? 16 : 8;
  DcmObj dataSet;
  dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  dataSet.AddString(0x0008, 0x0016, sopClass);
  dataSet.AddString(0x0008, 0x0018, instanceUid);
  dataSet.AddString(0x0010, 0x0010, "DOE^JANE");
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0002, 1, "US"));
  dataSet.AddString(0x0028, 0x0004, "MONOCHROME2");
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0010, rows, "US"));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0011, columns, "US"));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0100, bitsAllocated, "US"));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0101, bitsStored, "US"));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0102, bitsStored - 1, "US"));
  dataSet.Add(DcmTag::FromUS(0x0028, 0x0103, 0, "US"));
  std::string pixels(size_t{columns} * rows * (bitsAllocated / 8), '\0');
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<char>(i % 251);
  // Values of more than 8 bits stay within the bits stored.
  if (bitsAllocated == 16) {
    for (size_t i = 1; i < pixels.size(); i += 2) pixels[i] &= 0x0F;
  }
  dataSet.Add(DcmTag::FromBytes(0x7FE0, 0x0010, static_cast<uint32_t>(pixels.size()), pixels.data(),
                                bitsAllocated == 16 ? "OW" : "OB"));
  const std::string path = (dir / (instanceUid + ".dcm")).string();
  EXPECT_TRUE(dataSet.SaveToFile(path, sopClass, instanceUid));
  return path;
}

// The bytes after the file meta group: preamble and prefix (132 bytes), then the group length
// element (12 bytes in explicit VR) whose value counts the rest of the group.
Bytes DataSetBytes(const std::string& path) {
  const std::string file = testsupport::ReadFile(path);
  EXPECT_GT(file.size(), 144u);
  const auto* length = reinterpret_cast<const uint8_t*>(file.data() + 140);
  const size_t group = length[0] | length[1] << 8 | length[2] << 16 | size_t{length[3]} << 24;
  return Bytes(file.begin() + static_cast<long>(144 + group), file.end());
}

std::vector<Step> AcceptingThenCommand(const std::string& transferSyntax) {
  return {Step::ReceivePdu(), Step::Send(testpeer::AssociateAC({{1, 0, transferSyntax}})),
          Step::ReceivePdu()};
}

Bytes StoreResponse() {
  return testpeer::PData(1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, 0)}});
}

bool Open(PDU_Service& service, const ScriptedPeer& peer) {
  return OpenAssociation(service, "VELLORAN", "PEER", "127.0.0.1", peer.Port(), kSecondaryCapture,
                         kExplicitVRLittleEndian, "", 10);
}

TEST(StoreFile, DataSetGoesOutByteForByteAcrossReadChunks) {
  testsupport::TempDir dir;
  // 2.5 MiB of pixels: two whole read chunks and half of one.
  const std::string path = WriteImageFile(dir, "1.2.3.21", 1024, 2560);
  const Bytes dataSet = DataSetBytes(path);

  std::vector<Step> steps = AcceptingThenCommand(kExplicitVRLittleEndian);
  steps.insert(steps.end(),
               {Step::ReceiveMessage(), Step::Send(StoreResponse()), Step::ReceivePdu(),
                Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  Part10Header header;
  std::string error;
  ASSERT_TRUE(ReadPart10Header(path, header, error)) << error;
  EXPECT_EQ(StoreFile(service, path, header, error), 0) << error;
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  // Association request, command, the data set's PDUs, release request.
  const std::vector<Bytes> received = peer.Received();
  ASSERT_GE(received.size(), 4 + dataSet.size() / kFragment);
  Bytes sent;
  for (size_t i = 2; i + 1 < received.size(); ++i) {
    const Bytes& pdu = received[i];
    SCOPED_TRACE("PDU " + std::to_string(i));
    ASSERT_GT(pdu.size(), 12u);
    EXPECT_LE(pdu.size() - 6, 16384u);
    // One data item per PDU on context 1; only the last ends the message.
    EXPECT_EQ(size_t{pdu[6]} << 24 | size_t{pdu[7]} << 16 | size_t{pdu[8]} << 8 | pdu[9],
              pdu.size() - 10);
    EXPECT_EQ(pdu[10], 1);
    EXPECT_EQ(pdu[11], i + 2 == received.size() ? 0x02 : 0x00);
    sent.insert(sent.end(), pdu.begin() + 12, pdu.end());
  }
  EXPECT_TRUE(sent == dataSet) << "sent " << sent.size() << " bytes of " << dataSet.size();
  EXPECT_EQ(received.back(), testpeer::ReleaseRQ());
}

TEST(StoreFile, PeerAcceptingAnotherEncodingGetsTheConvertedDataSet) {
  testsupport::TempDir dir;
  const std::string path = WriteImageFile(dir, "1.2.3.22", 8, 8);
  std::vector<Step> steps = AcceptingThenCommand(kImplicitVRLittleEndian);
  steps.insert(steps.end(), {Step::ReceivePdu(), Step::Send(StoreResponse()), Step::ReceivePdu(),
                             Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  Part10Header header;
  std::string error;
  ASSERT_TRUE(ReadPart10Header(path, header, error)) << error;
  EXPECT_EQ(header.transferSyntaxUid, kExplicitVRLittleEndian);
  EXPECT_EQ(StoreFile(service, path, header, error), 0) << error;
  EXPECT_TRUE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  // Implicit VR: the name element is its tag and a 32-bit length, without "PN".
  // Association request, command, data set, release request.
  ASSERT_EQ(peer.Received().size(), 4u);
  const Bytes data = peer.Received()[2];
  ASSERT_GT(data.size(), 12u);
  EXPECT_EQ(data[11], 0x02);
  const Bytes name = {0x10, 0x00, 0x10, 0x00, 0x08, 0x00, 0x00, 0x00, 'D', 'O', 'E', '^'};
  EXPECT_NE(std::search(data.begin(), data.end(), name.begin(), name.end()), data.end());
  const Bytes explicitName = {0x10, 0x00, 0x10, 0x00, 'P', 'N'};
  EXPECT_EQ(std::search(data.begin(), data.end(), explicitName.begin(), explicitName.end()),
            data.end());
}

TEST(StoreFile, FileEndingWhileItIsSentAbortsTheAssociation) {
  testsupport::TempDir dir;
  const std::string path = WriteImageFile(dir, "1.2.3.23", 1024, 2560);
  const Bytes dataSet = DataSetBytes(path);
  Part10Header header;
  std::string error;
  ASSERT_TRUE(ReadPart10Header(path, header, error)) << error;
  // The file loses its end after it was chosen: the first chunk can be read, the second not.
  std::filesystem::resize_file(path, header.dataSetOffset + kChunk + kChunk / 2);

  // The connection ends with an A-ABORT; closing resets it at once, so the abort and data still
  // on their way may be lost, but never may a message look complete.
  std::vector<Step> steps = AcceptingThenCommand(kExplicitVRLittleEndian);
  steps.push_back(Step::ReceiveUntilClose());
  ScriptedPeer peer(steps);
  PDU_Service service;
  ASSERT_TRUE(Open(service, peer));
  EXPECT_EQ(StoreFile(service, path, header, error), kStoreWriteFailed);
  EXPECT_EQ(error, "the file could not be read to its end");
  EXPECT_FALSE(service.IsConnected());
  EXPECT_FALSE(CloseAssociation(service));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();

  const std::vector<Bytes> received = peer.Received();
  ASSERT_GE(received.size(), 2u);
  Bytes sent;
  for (size_t i = 2; i < received.size(); ++i) {
    const Bytes& pdu = received[i];
    if (pdu[0] == 0x07) {
      EXPECT_EQ(i, received.size() - 1) << "nothing follows the abort";
      EXPECT_EQ(pdu, testpeer::FromHex("07 00 00000004 00 00 02 00"));
      continue;
    }
    ASSERT_EQ(pdu[0], 0x04) << i;
    EXPECT_EQ(pdu[11], 0x00) << "fragment " << i << " claims to be the last";
    sent.insert(sent.end(), pdu.begin() + 12, pdu.end());
  }
  ASSERT_LE(sent.size(), kChunk);
  EXPECT_TRUE(std::equal(sent.begin(), sent.end(), dataSet.begin()));
}

// A data set handed on while it is made goes out as it comes, but its last PDU only once the
// producer says the data set is whole: one that fails after handing on every byte leaves the peer
// with a message that never ends, and the association is aborted.
TEST(StoreProduced, TheLastPduWaitsUntilTheProducerSaysTheDataSetIsWhole) {
  testsupport::TempDir dir;
  const Bytes dataSet = DataSetBytes(WriteImageFile(dir, "1.2.3.24", 1024, 1200));
  for (const bool whole : {true, false}) {
    SCOPED_TRACE(whole ? "whole" : "failed at the end");
    std::vector<Step> steps = AcceptingThenCommand(kExplicitVRLittleEndian);
    if (whole) {
      steps.insert(steps.end(),
                   {Step::ReceiveMessage(), Step::Send(StoreResponse()), Step::ReceivePdu(),
                    Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
    } else {
      steps.push_back(Step::ReceiveUntilClose());
    }
    ScriptedPeer peer(steps);
    PDU_Service service;
    ASSERT_TRUE(Open(service, peer));
    EXPECT_TRUE(SendsAsItIs(service, kExplicitVRLittleEndian));
    EXPECT_FALSE(SendsAsItIs(service, kImplicitVRLittleEndian));
    std::string error;
    const int status = StoreProduced(
        service, kSecondaryCapture, "1.2.3.24", kExplicitVRLittleEndian,
        [&](const PieceSink& sink) {
          for (size_t at = 0; at < dataSet.size(); at += 100000) {
            if (!sink(dataSet.data() + at, std::min<size_t>(100000, dataSet.size() - at))) break;
          }
          return whole;
        },
        error);
    if (whole) {
      EXPECT_EQ(status, 0) << error;
      EXPECT_TRUE(CloseAssociation(service));
    } else {
      EXPECT_EQ(status, kStoreWriteFailed);
      EXPECT_EQ(error, "the object could not be read");
      EXPECT_FALSE(service.IsConnected());
    }
    ASSERT_TRUE(peer.Finish()) << peer.Problem();
    Bytes sent;
    size_t lastFragments = 0;
    for (const Bytes& pdu : peer.Received()) {
      if (pdu[0] != 0x04 || pdu.size() <= 12 || pdu[11] & 0x01) continue;  // not data set bytes
      lastFragments += pdu[11] == 0x02 ? 1 : 0;
      sent.insert(sent.end(), pdu.begin() + 12, pdu.end());
    }
    EXPECT_EQ(lastFragments, whole ? 1u : 0u);
    if (whole) EXPECT_TRUE(sent == dataSet);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), dataSet.begin()));
  }
}

// A peer that accepts a transfer syntax we did not propose (a 12-bit CT as 8-bit baseline JPEG)
// gets nothing: the association ends with a release and the file is reported as not stored.
TEST(StoreFiles, AnUnproposedTransferSyntaxIsNeverConvertedTo) {
  testsupport::TempDir dir;
  const std::string path = WriteImageFile(dir, "1.2.3.41", 8, 8, 12, kCtImage);
  constexpr const char* kJpegBaseline = "1.2.840.10008.1.2.4.50";
  ScriptedPeer peer(
      {Step::ReceivePdu(),
       Step::Send(testpeer::AssociateAC({{1, 0, kJpegBaseline}, {3, 4, kImplicitVRLittleEndian}})),
       Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  CapturedLog log;
  std::vector<std::string> errors;
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = "PEER";
  node.host = "127.0.0.1";
  node.port = peer.Port();
  EXPECT_FALSE(StoreFiles({path}, node, 5, errors));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("no association with PEER"), std::string::npos) << errors[0];
  EXPECT_TRUE(
      log.Contains("ERROR, PDU_Service::InterogateAAssociateAC, context 1 accepted with "
                   "transfer syntax 1.2.840.10008.1.2.4.50, which was not proposed for "
                   "it; the context is not used"))
      << log.Text();
  // The request, then our release request: no C-STORE went out.
  const std::vector<Bytes> received = peer.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1], testpeer::ReleaseRQ());
}

// What `velloran-cli store` reports: a warning status is stored, a failure is named with the
// peer's comment.
TEST(StoreFiles, WarningsAreStoredAndFailuresNamed) {
  testsupport::TempDir dir;
  const std::vector<std::string> paths = {WriteImageFile(dir, "1.2.3.51", 8, 8),
                                          WriteImageFile(dir, "1.2.3.52", 8, 8),
                                          WriteImageFile(dir, "1.2.3.53", 8, 8)};
  std::vector<Step> steps = {Step::ReceivePdu(),
                             Step::Send(testpeer::AssociateAC({{1, 0, kExplicitVRLittleEndian}}))};
  const std::pair<uint16_t, const char*> answers[] = {
      {0xB000, "coerced"}, {0xA700, "disk full"}, {0x0001, ""}};
  for (const auto& [status, comment] : answers) {
    testpeer::ResponseFields fields;
    fields.errorComment = comment;
    steps.insert(
        steps.end(),
        {Step::ReceivePdu(), Step::ReceivePdu(),
         Step::Send(testpeer::PData(
             1, {{0x03, testpeer::ResponseCommand(kCommandStoreRSP, status, 0x0101, fields)}}))});
  }
  steps.insert(steps.end(),
               {Step::ReceivePdu(), Step::Send(testpeer::ReleaseRP()), Step::ExpectClose()});
  ScriptedPeer peer(steps);
  CapturedLog log;
  RemoteNode node;
  node.callingAet = "VELLORAN";
  node.calledAet = "PEER";
  node.host = "127.0.0.1";
  node.port = peer.Port();
  std::vector<std::string> errors;
  std::vector<bool> stored;
  EXPECT_FALSE(StoreFiles(paths, node, 5, errors, [&](const std::string&, size_t, size_t, bool ok) {
    stored.push_back(ok);
  }));
  ASSERT_TRUE(peer.Finish()) << peer.Problem();
  EXPECT_EQ(stored, (std::vector<bool>{true, false, true}));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], paths[1] +
                           ": the peer answered with status 0xA700 (refused: out of resources), "
                           "Error Comment: disk full");
  EXPECT_TRUE(
      log.Contains("WARNING, CStore::ReadRSP, stored with status 0xB000 (warning: "
                   "coercion of data elements), Error Comment: coerced"))
      << log.Text();
  // Three C-STOREs on one association, then its release.
  EXPECT_EQ(peer.Received().size(), 8u);
}

}  // namespace
