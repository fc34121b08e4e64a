// Byte-level tests of the PDU classes, the Buffer and message fragmentation.
#include "pdu.h"

#include <gtest/gtest.h>

#include <numeric>

#include "captured_log.h"
#include "link_pair.h"
#include "pdu_service.h"
#include "scripted_peer.h"

using testpeer::Bytes;
using testpeer::FromHex;

namespace {

uint32_t BigEndian32(const Bytes& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 |
         uint32_t{bytes[at + 3]};
}

struct Fragment {
  uint32_t pduLength;
  uint32_t itemLength;
  uint8_t contextId;
  uint8_t control;
  Bytes data;
};

// Splits a stream of P-DATA-TF PDUs with one item each.
std::vector<Fragment> SplitPData(const Bytes& stream) {
  std::vector<Fragment> fragments;
  size_t at = 0;
  while (at + 12 <= stream.size() && stream[at] == 0x04) {
    Fragment fragment;
    fragment.pduLength = BigEndian32(stream, at + 2);
    fragment.itemLength = BigEndian32(stream, at + 6);
    fragment.contextId = stream[at + 10];
    fragment.control = stream[at + 11];
    const size_t end = std::min(stream.size(), at + 12 + fragment.itemLength - 2);
    fragment.data.assign(stream.begin() + static_cast<long>(at + 12),
                         stream.begin() + static_cast<long>(end));
    fragments.push_back(std::move(fragment));
    at += 6 + fragments.back().pduLength;
  }
  return fragments;
}

// A data set whose Implicit VR encoding is exactly `size` bytes: one OB element.
std::unique_ptr<DcmObj> DataSetOfSize(uint32_t size) {
  auto dataSet = std::make_unique<DcmObj>();
  std::vector<uint8_t> value(size - 8);
  std::iota(value.begin(), value.end(), uint8_t{0});
  dataSet->AddBytes(0x0042, 0x0011, static_cast<uint32_t>(value.size()), value.data());
  return dataSet;
}

TEST(PDataTFWrite, CutsMessagesByThePeersLimit) {
  struct Case {
    const char* name;
    uint32_t peerLimit;
    uint32_t messageSize;
    MessageKind kind;
    std::vector<uint32_t> expectedDataSizes;
    bool limitLoweredLine;
  };
  const Case cases[] = {
      {"limit 8192", 8192, 40000, MessageKind::DataSet, {8186, 8186, 8186, 8186, 7256}, false},
      {"limit 16384", 16384, 40000, MessageKind::DataSet, {16378, 16378, 7244}, false},
      // Larger limits are lowered to what we announce ourselves.
      {"limit 65536", 65536, 40000, MessageKind::Command, {16378, 16378, 7244}, true},
      {"exactly one block", 16384, 16378, MessageKind::DataSet, {16378}, false},
      // A long value goes from the object into the fragments, which keep their size across it.
      {"long value",
       16384,
       150000,
       MessageKind::DataSet,
       {16378, 16378, 16378, 16378, 16378, 16378, 16378, 16378, 16378, 2598},
       false},
      // 0 means "no limit": fragments of the size we accept ourselves, as for larger limits.
      {"no limit", 0, 40000, MessageKind::DataSet, {16378, 16378, 7244}, false},
  };
  LogLevel = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    PDU_Service service;
    LinkPair pair(service.Link);
    service.MarkEstablished();
    service.pdata.PresentationContextID = 5;
    service.assocAC.UserInfo.MaxLength.MaximumLength = c.peerLimit;
    auto dataSet = DataSetOfSize(c.messageSize);
    ASSERT_TRUE(service.Write(*dataSet, "", c.kind));

    const std::vector<Fragment> fragments = SplitPData(pair.Collect());
    ASSERT_EQ(fragments.size(), c.expectedDataSizes.size());
    Bytes joined;
    for (size_t i = 0; i < fragments.size(); ++i) {
      const Fragment& fragment = fragments[i];
      EXPECT_EQ(fragment.data.size(), c.expectedDataSizes[i]);
      EXPECT_EQ(fragment.pduLength, c.expectedDataSizes[i] + 6);
      EXPECT_EQ(fragment.itemLength, c.expectedDataSizes[i] + 2);
      EXPECT_EQ(fragment.contextId, 5);
      const bool last = i + 1 == fragments.size();
      EXPECT_EQ(fragment.control, (last ? 0x02 : 0x00) | static_cast<uint8_t>(c.kind));
      joined.insert(joined.end(), fragment.data.begin(), fragment.data.end());
    }
    // The fragments put together are the message: its element header, then the value.
    ASSERT_EQ(joined.size(), c.messageSize);
    EXPECT_EQ(Bytes(joined.begin(), joined.begin() + 4), FromHex("4200 1100"));
    EXPECT_EQ(joined[8 + 200], 200);

    // A second message on the same association logs the lowering no more.
    ASSERT_TRUE(service.Write(*dataSet, "", c.kind));
    const std::string text = log.Text();
    const std::string line = "INFO, PDU_Service::Write, MaximumLength set to 16384";
    const size_t first = text.find(line);
    EXPECT_EQ(first != std::string::npos, c.limitLoweredLine);
    if (c.limitLoweredLine) {
      EXPECT_EQ(text.find(line, first + 1), std::string::npos);
    }
  }
  LogLevel = 0;
}

TEST(PDataTFWrite, RefusesWhatCannotBeSent) {
  CapturedLog log;
  auto dataSet = DataSetOfSize(100);
  {
    PDU_Service service;
    LinkPair pair(service.Link);
    service.MarkEstablished();
    service.assocAC.UserInfo.MaxLength.MaximumLength = 16384;
    EXPECT_FALSE(service.Write(*dataSet, "", MessageKind::Command));
    EXPECT_TRUE(log.Contains("ERROR, PDU_Service::Write, pdata.PresentationContextID is 0"));
  }
  {
    // A limit of 5 leaves no room for data in a fragment; wrapping it would ignore the limit.
    PDU_Service service;
    LinkPair pair(service.Link);
    service.MarkEstablished();
    service.pdata.PresentationContextID = 1;
    service.assocAC.UserInfo.MaxLength.MaximumLength = 5;
    EXPECT_FALSE(service.Write(*dataSet, "", MessageKind::DataSet));
    EXPECT_TRUE(pair.Collect().empty());
    EXPECT_TRUE(log.Contains("peer maximum length 5 is too small"));
  }
}

// A service whose context 1 was accepted with Implicit VR Little Endian, reading from `pair`.
void AcceptImplicit(PDU_Service& service) {
  PresentationContextAccept accept;
  accept.PresentationContextID = 1;
  accept.Result = 0;
  accept.TrnSyntax.UID = "1.2.840.10008.1.2";
  service.AcceptedPresContexts.push_back(accept);
}

// (0010,0010) "DOE^J" in Implicit VR Little Endian, padded to even length.
const Bytes kIdentifier = FromHex("1000 1000 06000000 444F455E4A20");

TEST(PDataTFRead, CommandAndDataSetInOnePdu) {
  // One P-DATA-TF holding a C-FIND-RSP command (control 03: command, last fragment) with status
  // FF00 and data set type 0102, followed by the identifier (control 02: data set, last).
  PDU_Service service;
  LinkPair pair(service.Link);
  service.MarkEstablished();
  AcceptImplicit(service);
  const Bytes command = testpeer::ResponseCommand(0x8020, 0xFF00, 0x0102);
  pair.Feed(testpeer::PData(1, {{0x03, command}, {0x02, kIdentifier}}));

  DcmObj response;
  ASSERT_TRUE(service.Read(response, MessageKind::Command));
  EXPECT_EQ(response.GetUS(0x0000, 0x0100), 0x8020);
  EXPECT_EQ(response.GetUS(0x0000, 0x0900), 0xFF00);
  // The identifier's item (4 + 2 + 14 bytes) is still counted in the current PDU.
  EXPECT_EQ(service.pdata.Length, 20u);

  // The stream is closed behind the PDU, so this read succeeds only without a new header.
  DcmObj identifier;
  ASSERT_TRUE(service.Read(identifier, MessageKind::DataSet));
  EXPECT_EQ(identifier.GetString(0x0010, 0x0010), "DOE^J");
  EXPECT_EQ(service.pdata.Length, 0u);
}

TEST(PDataTFRead, MessageOverSeveralPdus) {
  // The identifier cut in two: a non-last fragment (control 00) in one PDU, the last (02) in
  // the next.
  PDU_Service service;
  LinkPair pair(service.Link);
  service.MarkEstablished();
  AcceptImplicit(service);
  Bytes stream = testpeer::PData(1, {{0x00, Bytes(kIdentifier.begin(), kIdentifier.begin() + 5)}});
  const Bytes second =
      testpeer::PData(1, {{0x02, Bytes(kIdentifier.begin() + 5, kIdentifier.end())}});
  stream.insert(stream.end(), second.begin(), second.end());
  pair.Feed(stream);

  DcmObj identifier;
  ASSERT_TRUE(service.Read(identifier, MessageKind::DataSet));
  EXPECT_EQ(identifier.GetString(0x0010, 0x0010), "DOE^J");
}

TEST(PDataTFRead, RefusesLengthsThatDoNotFit) {
  struct Case {
    const char* name;
    const char* pdu;
    const char* logLine;
  };
  const Case cases[] = {
      // PDU length 0xFFFFFFF0: refused before anything is read or allocated.
      {"huge PDU length", "04 00 FFFFFFF0 00000010 01 02", "PDU length 4294967280 exceeds 65536"},
      // PDU length 0x00010001, one above the largest accepted.
      {"just above the cap", "04 00 00010001 00000010 01 02", "exceeds 65536"},
      // Item length 0x00001000 inside a PDU of 10 bytes.
      {"item beyond its PDU", "04 00 0000000A 00001000 01 02 0000 0000",
       "item length 4096 does not fit in the PDU length 10"},
      // Item length 1 cannot even hold the context ID and control header.
      {"item shorter than its header", "04 00 00000006 00000001 01 02",
       "item length 1 does not fit"},
      // PDU length 3 cannot hold an item header.
      {"PDU shorter than an item header", "04 00 00000003 000000", "item header does not fit"},
      // The PDU announces 16 bytes and the connection ends after 8.
      {"truncated", "04 00 00000010 0000000C 01 02 0000", "VRBuffer.MoveIn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
    LinkPair pair(link);
    Bytes bytes = FromHex(c.pdu);
    pair.Feed(Bytes(bytes.begin() + 1, bytes.end()));  // the type byte is the caller's
    PDataTF pdata;
    EXPECT_FALSE(pdata.ReadDynamic(link));
    EXPECT_EQ(pdata.Length, 0u);
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
  }
}

// An A-ASSOCIATE-AC as a DICOM peer sends it, after its type byte 02:
//   00 000000B8 reserved, length 184
//   0001 0000 protocol version 1, reserved
//   "VELLORAN        " "ANY-SCP         " called and calling titles, 32 reserved zero bytes
//   10 00 0015 "1.2.840.10008.3.1.1.1" application context
//   21 00 0019 01 00 00 00 | 40 00 0011 "1.2.840.10008.1.2"  context 1 accepted, Implicit VR LE
//   21 00 0008 03 00 03 00 | 40 00 0000                      context 3 refused (3), no syntax
//   50 00 002E user information, 46 bytes:
//     51 00 0004 00008000             maximum length 32768
//     52 00 0018 "1.2.276.0.7230010.3.0.3" implementation class UID (24 bytes with its pad zero)
//     55 00 0006 "PEER36"             implementation version name
const char* kKnownAC =
    "00 000000B8 0001 0000"
    "56454C4C4F52414E2020202020202020 414E592D5343502020202020202020 20"
    "0000000000000000000000000000000000000000000000000000000000000000"
    "10 00 0015 312E322E3834302E31303030382E332E312E312E31"
    "21 00 0019 01 00 00 00 40 00 0011 312E322E3834302E31303030382E312E32"
    "21 00 0008 03 00 03 00 40 00 0000"
    "50 00 002E 51 00 0004 00008000"
    "52 00 0018 312E322E3237362E302E373233303031302E332E302E3300"
    "55 00 0006 504545523336";

TEST(AAssociateACRead, KnownPduAndItsRoundTrip) {
  PDU_Service service;  // the reader takes accept IDs from the association counter
  ResetCounter();
  Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
  LinkPair pair(link);
  pair.Feed(FromHex(kKnownAC));
  AAssociateAC ac;
  ASSERT_EQ(ac.ReadDynamic(link), ReadStatus::Complete);
  EXPECT_EQ(ac.Length, 184u);
  EXPECT_EQ(ac.CalledApTitle, "VELLORAN        ");
  EXPECT_EQ(ac.CallingApTitle, "ANY-SCP         ");
  EXPECT_EQ(ac.AppContext.UID, "1.2.840.10008.3.1.1.1");
  ASSERT_EQ(ac.PresContextAccepts.size(), 2u);
  EXPECT_EQ(ac.PresContextAccepts[0].PresentationContextID, 1);
  EXPECT_EQ(ac.PresContextAccepts[0].Result, 0);
  EXPECT_EQ(ac.PresContextAccepts[0].TrnSyntax.UID, "1.2.840.10008.1.2");
  EXPECT_EQ(ac.PresContextAccepts[1].PresentationContextID, 3);
  EXPECT_EQ(ac.PresContextAccepts[1].Result, 3);
  EXPECT_EQ(ac.UserInfo.MaxLength.MaximumLength, 32768u);
  EXPECT_EQ(ac.UserInfo.ImplementationClass.ImplementationClassUID, "1.2.276.0.7230010.3.0.3");
  EXPECT_EQ(ac.UserInfo.ImplementationVersion.ImplementationVersionName, "PEER36");

  // Written again, it reads back the same.
  Buffer out(ByteOrder::BigEndian, ByteOrder::BigEndian);
  LinkPair outPair(out);
  ASSERT_TRUE(ac.Write(out));
  Bytes written = outPair.Collect();
  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written[0], 0x02);
  Buffer back(ByteOrder::BigEndian, ByteOrder::BigEndian);
  LinkPair backPair(back);
  backPair.Feed(Bytes(written.begin() + 1, written.end()));
  AAssociateAC again;
  ASSERT_EQ(again.ReadDynamic(back), ReadStatus::Complete);
  ASSERT_EQ(again.PresContextAccepts.size(), 2u);
  EXPECT_EQ(again.PresContextAccepts[0].TrnSyntax.UID, "1.2.840.10008.1.2");
  EXPECT_EQ(again.PresContextAccepts[1].Result, 3);
  EXPECT_EQ(again.UserInfo.MaxLength.MaximumLength, 32768u);
  EXPECT_EQ(again.UserInfo.ImplementationVersion.ImplementationVersionName, "PEER36");
}

// The fixed head of an AC body (after type and length): version, titles, reserved block.
std::string AcHead() {
  std::string head = "0001 0000";
  for (int i = 0; i < 32; ++i) head += "20";
  return head + std::string(64, '0');
}

// An AC body: the head followed by `items`, with the 32-bit length in front.
Bytes AcBody(const std::string& items) {
  Bytes body = FromHex(AcHead() + items);
  Bytes pdu = {0x00};
  testpeer::Put32(pdu, static_cast<uint32_t>(body.size()));
  pdu.insert(pdu.end(), body.begin(), body.end());
  return pdu;
}

TEST(AAssociateACRead, BoundsAndUnknownItems) {
  const std::string uid65 = std::string(130, '3');  // 65 characters "3"
  struct Case {
    const char* name;
    Bytes pdu;
    ReadStatus expected;
    const char* logLine;
    uint32_t maximumLength = 0;  // read from a sub-item after the skipped one (0: none)
  };
  const Case cases[] = {
      {"PDU length 0xFFFFFFFF", FromHex("00 FFFFFFFF"), ReadStatus::Refused,
       "PDU length 4294967295 outside 68..262144"},
      {"PDU shorter than its head", FromHex("00 00000010 0001 0000"), ReadStatus::Refused,
       "PDU length 16 outside"},
      {"transfer syntax of 65 characters", AcBody("21 00 0049 01 00 00 00 40 00 0041 " + uid65),
       ReadStatus::Refused, "UID length 65 exceeds 64"},
      {"application context of 65 characters", AcBody("10 00 0041 " + uid65), ReadStatus::Refused,
       "UID length 65 exceeds 64"},
      {"implementation class UID of 65 characters", AcBody("50 00 0045 52 00 0041 " + uid65),
       ReadStatus::Refused, "Implementation Class UID length 65 exceeds 64"},
      {"role selection UID of 200 characters", AcBody("50 00 0008 54 00 0004 00C8 0000"),
       ReadStatus::Refused, "SOP Class UID length 200 exceeds 64"},
      {"item longer than the PDU", AcBody("21 00 0400 01 00 00 00"), ReadStatus::Refused,
       "presentation context accept needs 1024 bytes"},
      {"sub-item longer than its item", AcBody("50 00 0008 51 00 0010 00004000"),
       ReadStatus::Refused, "user information sub-item needs 16 bytes"},
      {"maximum length sub-item too short", AcBody("50 00 0006 51 00 0002 4000"),
       ReadStatus::Refused, "MaximumLength needs 4 bytes"},
      // SOP class extended negotiation (56) is not read; only that sub-item is passed over.
      {"unknown user information sub-item",
       AcBody("50 00 0011 56 00 0005 0001 31 00 01 51 00 0004 00002000"), ReadStatus::Skipped,
       "WARNING, UserInformation::Read Unknown Packet", 0x2000},
      {"unknown item after the contexts",
       AcBody("21 00 0008 01 00 00 00 40 00 0000 77 00 0002 0000"), ReadStatus::Skipped,
       "WARNING, AAssociateAC::Read Unknown Packet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CapturedLog log;
    Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
    LinkPair pair(link);
    pair.Feed(c.pdu);
    AAssociateAC ac;
    EXPECT_EQ(ac.ReadDynamic(link), c.expected);
    EXPECT_TRUE(log.Contains(c.logLine)) << log.Text();
    EXPECT_EQ(ac.UserInfo.HasMaxLength, c.maximumLength != 0);
    if (c.maximumLength != 0) EXPECT_EQ(ac.UserInfo.MaxLength.MaximumLength, c.maximumLength);
  }
}

TEST(BufferTest, ByteOrdersAndReadsAcrossReceives) {
  struct Case {
    ByteOrder order;
    const char* expected;
  };
  const Case cases[] = {{ByteOrder::BigEndian, "AB 1234 89ABCDEF"},
                        {ByteOrder::LittleEndian, "AB 3412 EFCDAB89"}};
  for (const Case& c : cases) {
    Buffer out(c.order, c.order);
    LinkPair outPair(out);
    out.Write8(0xAB);
    out.Write16(0x1234);
    out.Write32(0x89ABCDEF);
    ASSERT_TRUE(out.Flush());
    const Bytes written = outPair.Collect();
    EXPECT_EQ(written, FromHex(c.expected));

    // Read back in pieces that arrive one at a time.
    Buffer in(c.order, c.order);
    LinkPair inPair(in);
    for (uint8_t byte : written) inPair.Feed({byte}, false);
    inPair.Feed({});
    uint8_t value8 = 0;
    uint16_t value16 = 0;
    uint32_t value32 = 0;
    ASSERT_TRUE(in.Read8(value8) && in.Read16(value16) && in.Read32(value32));
    EXPECT_EQ(value8, 0xAB);
    EXPECT_EQ(value16, 0x1234);
    EXPECT_EQ(value32, 0x89ABCDEFu);
    EXPECT_FALSE(in.Read8(value8));  // the stream has ended
  }
}

TEST(BufferTest, FlushSendsSeveralChunksInOrder) {
  Buffer link;
  LinkPair pair(link);
  Bytes message(3 * 32600 + 17);
  std::iota(message.begin(), message.end(), uint8_t{7});
  link.Write(message.data(), message.size());
  EXPECT_EQ(link.OutgoingCount(), message.size());
  ASSERT_TRUE(link.Flush());
  EXPECT_EQ(link.OutgoingCount(), 0u);
  EXPECT_EQ(pair.Collect(), message);
}

TEST(ReleaseAndAbort, FixedBytes) {
  // Release request and reply: type, reserved, length 4, four reserved zero bytes. Abort as
  // the service provider (source 2) for an unrecognised PDU (reason 1).
  Buffer link(ByteOrder::BigEndian, ByteOrder::BigEndian);
  LinkPair pair(link);
  AReleaseRQ().Write(link);
  AReleaseRP().Write(link);
  AAbortRQ abort;
  abort.Source = static_cast<uint8_t>(AbortSource::ServiceProvider);
  abort.Reason = static_cast<uint8_t>(AbortReason::UnrecognizedPdu);
  abort.Write(link);
  EXPECT_EQ(pair.Collect(), FromHex("05 00 00000004 00000000"
                                    "06 00 00000004 00000000"
                                    "07 00 00000004 00 00 02 01"));
}

}  // namespace
