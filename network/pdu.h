// The upper-layer PDUs and their items, one class each, fields in wire order (big-endian).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "buffer.h"

// Bounds on what a peer may make us store or allocate.
inline constexpr size_t kMaxUidLength = 64;
inline constexpr size_t kAeTitleLength = 16;
// An AE title as it travels: exactly 16 bytes, blank padded or cut.
std::string Title16(const std::string& title);
// Implementation version names are at most 16 characters; a little slack for sloppy peers.
inline constexpr size_t kMaxVersionNameLength = 64;
// User identity fields and responses may carry tickets or assertions, so they get more room.
inline constexpr size_t kMaxIdentityFieldLength = 65535;
// An A-ASSOCIATE PDU with 128 contexts and a large identity response stays far below this.
inline constexpr uint32_t kMaxAssociatePduLength = 262144;
// The largest P-DATA-TF this side accepts, announced in every request; peers' larger limits
// are lowered to it when sending.
inline constexpr uint32_t kOwnPDataLength = 16384;
// The largest P-DATA-TF accepted from a peer: four times the 16384 we announce, so a peer
// that overshoots a little still works while a wild length is refused before any allocation.
inline constexpr uint32_t kMaxAcceptedPDataLength = 65536;
// We only receive responses (command sets and query identifiers, a few kilobytes each); a
// message larger than this comes from a peer that streams without end.
inline constexpr size_t kMaxReceivedMessageLength = size_t{4} << 20;

// A bounded cursor over the body of a received PDU or item. Each read names what it reads, and
// a read that would run past the end or beyond a cap is refused with one log line naming it.
class PduReader {
 public:
  PduReader(const uint8_t* data, size_t size, std::string context);
  bool Read8(const char* what, uint8_t& value);
  bool Read16(const char* what, uint16_t& value);
  bool Read32(const char* what, uint32_t& value);
  // Reads `length` bytes as text, refusing lengths above `cap` before storing anything.
  bool ReadText(const char* what, size_t length, size_t cap, std::string& text);
  bool Skip(const char* what, size_t length);
  // Splits off the next `length` bytes as the body of an item and advances past them.
  bool Item(const char* what, size_t length, PduReader& item);
  size_t Remaining() const { return size_ - position_; }
  const std::string& Context() const { return context_; }

 private:
  bool Need(const char* what, size_t length);
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t position_ = 0;
  std::string context_;
};

// Outcome of reading a whole PDU body from the connection.
enum class ReadStatus {
  Complete,  // every byte accounted for
  Skipped,   // the PDU was consumed to its end, but an unknown part of it was skipped
  Refused,   // a length broke its bound or the connection failed: the stream is unusable
};

// Application context, abstract syntax and transfer syntax sub-items: PS3.8 Tables 9-12, 9-14,
// 9-15.
struct UIDitem {
  uint8_t ItemType = 0;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string UID;

  UIDitem() = default;
  UIDitem(uint8_t type, std::string uid) : ItemType(type), UID(std::move(uid)) {}
  size_t Size();
  void Write(Buffer& link);
  // After the type byte.
  bool Read(PduReader& reader);
};

// Presentation context item of an A-ASSOCIATE-RQ: PS3.8 Table 9-13.
struct PresentationContext {
  uint8_t ItemType = 0x20;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t PresentationContextID = 0;
  uint8_t Reserved2 = 0;
  uint8_t Reserved3 = 0;
  uint8_t Reserved4 = 0;
  UIDitem AbsSyntax{0x30, ""};
  std::vector<UIDitem> TrnSyntax;

  size_t Size();
  bool Write(Buffer& link);
  bool Read(PduReader& reader);
};

// Presentation context item of an A-ASSOCIATE-AC: PS3.8 Table 9-18.
struct PresentationContextAccept {
  uint8_t ItemType = 0x21;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t PresentationContextID = 0;
  uint8_t Reserved2 = 0;
  uint8_t Result = 2;
  uint8_t Reserved4 = 0;
  UIDitem AbsSyntax;  // not on the wire; stays empty
  UIDitem TrnSyntax{0x40, ""};

  size_t Size();
  void Write(Buffer& link);
  bool Read(PduReader& reader);
};

// Maximum length sub-item: PS3.8 Table D.1-1.
struct MaxSubLength {
  uint8_t ItemType = 0x51;
  uint8_t Reserved1 = 0;
  uint16_t Length = 4;
  uint32_t MaximumLength = 0;

  size_t Size() { return 8; }
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// Implementation class UID sub-item: PS3.7 Table D.3-1.
struct ImpClass {
  uint8_t ItemType = 0x52;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string ImplementationClassUID;

  size_t Size();
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// Asynchronous operations window sub-item: PS3.7 Table D.3-7.
struct AsyncOpWindow {
  uint8_t ItemType = 0x53;
  uint8_t Reserved1 = 0;
  uint16_t Length = 4;
  uint16_t MaxOperationsInvoked = 0;
  uint16_t MaxOperationsPerformed = 0;

  size_t Size() { return 8; }
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// SCP/SCU role selection sub-item: PS3.7 Table D.3-9.
struct SCPSCURole {
  uint8_t ItemType = 0x54;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint16_t UIDLength = 0;
  std::string SOPClassUID;
  uint8_t SCURole = 0;
  uint8_t SCPRole = 0;

  size_t Size();
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// Implementation version name sub-item: PS3.7 Table D.3-3.
struct ImpVersion {
  uint8_t ItemType = 0x55;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string ImplementationVersionName;

  size_t Size();
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// User identity negotiation sub-item of a request: PS3.7 Table D.3-14.
struct UserIdentity {
  uint8_t ItemType = 0x58;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  uint8_t UserIdentityType = 2;  // user name and passcode
  uint8_t PositiveResponseRequested = 1;
  std::string PrimaryField;
  std::string SecondaryField;

  size_t Size();
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// User identity negotiation sub-item of an acceptance: PS3.7 Table D.3-15.
struct UserIdentityResponse {
  uint8_t ItemType = 0x59;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;
  std::string ServerResponse;

  size_t Size();
  void Write(Buffer& link);
  bool ReadDynamic(PduReader& reader);
};

// User information item: PS3.8 Table 9-16, with the sub-items above.
struct UserInformation {
  uint8_t ItemType = 0x50;
  uint8_t Reserved1 = 0;
  uint16_t Length = 0;  // computed by Size
  MaxSubLength MaxLength;
  ImpClass ImplementationClass;
  ImpVersion ImplementationVersion;
  AsyncOpWindow AsyncWindow;
  // Written when its SOP class UID is set; of those received, only the last one is kept.
  SCPSCURole Role;
  UserIdentity Identity;
  UserIdentityResponse IdentityResponse;
  bool HasMaxLength = false;  // a maximum length sub-item was received

  size_t Size();
  // Uses the Length of the last Size call (the PDU's Size makes it).
  void Write(Buffer& link);
  // After the type byte. Unknown sub-items end the reading of the item with `skipped` set.
  bool ReadDynamic(PduReader& reader, bool& skipped);
};

// The fixed 74-byte head that A-ASSOCIATE-RQ and -AC share: PS3.8 Tables 9-11 and 9-17.
struct AssociateHeader {
  uint8_t ItemType = 0;
  uint8_t Reserved1 = 0;
  uint32_t Length = 0;
  uint16_t ProtocolVersion = 1;
  uint16_t Reserved2 = 0;
  std::string CalledApTitle;   // exactly 16 characters on the wire
  std::string CallingApTitle;  // exactly 16 characters on the wire
  uint8_t Reserved3[32] = {};
};

// A-ASSOCIATE-RQ: PS3.8 Table 9-11.
struct AAssociateRQ : AssociateHeader {
  UIDitem AppContext{0x10, ""};
  std::vector<PresentationContext> PresContexts;
  UserInformation UserInfo;

  AAssociateRQ() { ItemType = 0x01; }
  size_t Size();
  bool Write(Buffer& link);
  // After the type byte; reads the whole PDU so that it can be refused cleanly.
  ReadStatus Read(Buffer& link);
};

// A-ASSOCIATE-AC: PS3.8 Table 9-17.
struct AAssociateAC : AssociateHeader {
  UIDitem AppContext{0x10, ""};
  std::vector<PresentationContextAccept> PresContextAccepts;
  UserInformation UserInfo;

  AAssociateAC() { ItemType = 0x02; }
  size_t Size();
  // Used by the acceptor of associations (the storage commitment listener) and by test peers.
  bool Write(Buffer& link);
  // After the type byte.
  ReadStatus ReadDynamic(Buffer& link);
  // The body after the 4-byte length; used by ReadDynamic and by the fuzz target.
  ReadStatus ParseBody(PduReader& reader);
};

// A-ASSOCIATE-RJ: PS3.8 Table 9-21.
struct AAssociateRJ {
  uint8_t ItemType = 0x03;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint8_t Reserved2 = 0;
  uint8_t Result = 0;
  uint8_t Source = 0;
  uint8_t Reason = 0;

  bool Write(Buffer& link);
  bool Read(Buffer& link);
};

// A-RELEASE-RQ and A-RELEASE-RP: PS3.8 Tables 9-24 and 9-25.
struct AReleasePDU {
  uint8_t ItemType = 0;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint32_t Reserved2 = 0;

  bool Write(Buffer& link);
  // After the type byte.
  bool Read(Buffer& link);
};
struct AReleaseRQ : AReleasePDU {
  AReleaseRQ() { ItemType = 0x05; }
};
struct AReleaseRP : AReleasePDU {
  AReleaseRP() { ItemType = 0x06; }
};

// Abort sources and reasons of PS3.8 Table 9-26.
enum class AbortSource : uint8_t { ServiceUser = 0, ServiceProvider = 2 };
enum class AbortReason : uint8_t {
  NotSpecified = 0,
  UnrecognizedPdu = 1,
  UnexpectedPdu = 2,
  UnrecognizedPduParameter = 4,
  UnexpectedPduParameter = 5,
  InvalidPduParameter = 6,
};

// A-ABORT: PS3.8 Table 9-26.
struct AAbortRQ {
  uint8_t ItemType = 0x07;
  uint8_t Reserved1 = 0;
  uint32_t Length = 4;
  uint8_t Reserved2 = 0;
  uint8_t Reserved3 = 0;
  uint8_t Source = static_cast<uint8_t>(AbortSource::ServiceUser);
  uint8_t Reason = static_cast<uint8_t>(AbortReason::NotSpecified);

  bool Write(Buffer& link);
  // After the type byte.
  bool Read(Buffer& link);
};

// P-DATA-TF: PS3.8 Table 9-22 and its presentation data value items (Table 9-23), as received.
// Outgoing messages are cut into PDUs by FragmentWriter; this object gives them their context.
class PDataTF {
 public:
  uint8_t ItemType = 0x04;
  uint8_t Reserved1 = 0;
  // Bytes of the current incoming PDU not read yet: a message may end inside a PDU and the next
  // one start in the same PDU.
  uint32_t Length = 0;
  // Context of outgoing messages; after a read, the context of the last received item.
  uint8_t PresentationContextID = 0;
  // What the last received item carried.
  uint32_t ItemLength = 0;
  uint8_t ReceivedControlHeader = 0;
  bool LastFragment = false;
  // Set by the first fragment of a message: every later fragment of it must carry the same
  // command/data bit (bit 0 of the control header). Cleared before each message is read.
  bool MessageStarted = false;
  uint8_t MessageCommandBit = 0;
  // Incoming PDUs longer than this are refused before anything is read into memory.
  uint32_t MaxReceiveLength = kMaxAcceptedPDataLength;
  // A message gathered from more fragments than this is refused.
  size_t MaxMessageLength = kMaxReceivedMessageLength;
  // The message being gathered.
  Buffer VRBuffer;

  // After the type byte of a new PDU, or within the current one when Length is not 0. Returns
  // after the last fragment of a message or at the end of the PDU.
  bool ReadDynamic(Buffer& link);
};
