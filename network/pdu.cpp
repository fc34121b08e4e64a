// Size, Write and Read of every upper-layer PDU and item, with their protocol trace lines.
#include "pdu.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "associationcounter.h"
#include "log.h"

namespace {

bool Tracing() {
  return LogLevel.load() > 1;
}

void Info(const std::string& line) {
  if (Tracing()) WriteLog(line);
}

std::string Quoted(const std::string& text) {
  return ", \"" + text + "\"";
}

// Text up to the first zero byte, as a C string field would show it.
std::string AsCText(const std::string& text) {
  return text.substr(0, text.find('\0'));
}

void WriteText(Buffer& link, const std::string& text) {
  link.Write(text.data(), text.size());
}

uint16_t Length16(size_t length) {
  return static_cast<uint16_t>(std::min<size_t>(length, 0xFFFF));
}

// Reads the reserved byte and the 32-bit length that follow a PDU's type byte, then the whole
// body into memory. The length is checked against `cap` before anything is allocated; the
// body itself arrives through the buffer, so memory grows only with what the peer really sent.
bool ReadPduBody(Buffer& link, const char* name, uint32_t cap, uint32_t minimum, uint8_t& reserved,
                 uint32_t& length, std::vector<uint8_t>& body) {
  if (!link.Read8(reserved) || !link.Read32(length)) {
    WriteLog(std::string("ERROR, ") + name + "::Read, connection ended in the PDU header");
    return false;
  }
  if (length > cap || length < minimum) {
    WriteLog(std::string("ERROR, ") + name + "::Read, PDU length " + std::to_string(length) +
             " outside " + std::to_string(minimum) + ".." + std::to_string(cap));
    return false;
  }
  body.resize(length);
  if (!link.Read(body.data(), length)) {
    WriteLog(std::string("ERROR, ") + name + "::Read, connection ended inside the PDU");
    return false;
  }
  return true;
}

void LogHeaderFields(const AssociateHeader& header) {
  WriteLog("ItemType: " + std::to_string(header.ItemType));
  WriteLog("Reserved1: " + std::to_string(header.Reserved1));
  WriteLog("Length: " + std::to_string(header.Length));
  WriteLog("ProtocolVersion: " + std::to_string(header.ProtocolVersion));
  WriteLog("Reserved2: " + std::to_string(header.Reserved2));
  WriteLog("CalledApTitle: " + header.CalledApTitle);
  WriteLog("CallingApTitle: " + header.CallingApTitle);
  WriteLog("Reserved3: " +
           AsCText(std::string(reinterpret_cast<const char*>(header.Reserved3), 32)));
}

void WriteAssociateHeader(Buffer& link, AssociateHeader& header) {
  link.Write8(header.ItemType);
  link.Write8(header.Reserved1);
  link.Write32(header.Length);
  link.Write16(header.ProtocolVersion);
  link.Write16(header.Reserved2);
  WriteText(link, Title16(header.CalledApTitle));
  WriteText(link, Title16(header.CallingApTitle));
  link.Write(header.Reserved3, sizeof header.Reserved3);
}

// The part of the fixed head after the length: version, titles and the reserved block.
bool ParseAssociateHeader(PduReader& reader, AssociateHeader& header) {
  std::string called;
  std::string calling;
  std::string reserved;
  if (!reader.Read16("ProtocolVersion", header.ProtocolVersion) ||
      !reader.Read16("Reserved2", header.Reserved2) ||
      !reader.ReadText("CalledApTitle", kAeTitleLength, kAeTitleLength, called) ||
      !reader.ReadText("CallingApTitle", kAeTitleLength, kAeTitleLength, calling) ||
      !reader.ReadText("Reserved3", 32, 32, reserved)) {
    return false;
  }
  header.CalledApTitle = AsCText(called);
  header.CallingApTitle = AsCText(calling);
  std::memcpy(header.Reserved3, reserved.data(), 32);
  return true;
}

// Reads a sub-item's reserved byte and length and splits off its body.
bool SubItem(PduReader& reader, const char* name, uint16_t& length, PduReader& item) {
  uint8_t reserved = 0;
  return reader.Read8(name, reserved) && reader.Read16(name, length) &&
         reader.Item(name, length, item);
}

// The four bytes every item and sub-item starts with.
void WriteItemHead(Buffer& link, uint8_t type, uint8_t reserved, uint16_t length) {
  link.Write8(type);
  link.Write8(reserved);
  link.Write16(length);
}

// Items whose whole body is one text (UIDs, the version name): Size sets `length` to the text's
// size, Write sends the head and as many bytes as `length` states.
size_t TextItemSize(const std::string& text, uint16_t& length) {
  length = Length16(text.size());
  return 4u + length;
}

void WriteTextItem(Buffer& link, uint8_t type, uint8_t reserved, uint16_t& length,
                   const std::string& text) {
  TextItemSize(text, length);
  WriteItemHead(link, type, reserved, length);
  link.Write(text.data(), length);
}

// Reads `length` bytes of text, refusing more than `cap`, and keeps what comes before the first
// zero byte: some peers pad UIDs with a trailing zero as in data sets.
bool ReadCText(PduReader& reader, const char* what, size_t length, size_t cap, std::string& value) {
  std::string text;
  if (!reader.ReadText(what, length, cap, text)) return false;
  value = AsCText(text);
  return true;
}

// A text preceded by its 16-bit length, as in the user identity sub-items.
void WriteLengthAndText(Buffer& link, const std::string& text) {
  link.Write16(Length16(text.size()));
  WriteText(link, text);
}

bool ReadLengthAndText(PduReader& reader, const char* lengthName, const char* textName, size_t cap,
                       std::string& text) {
  uint16_t length = 0;
  return reader.Read16(lengthName, length) && reader.ReadText(textName, length, cap, text);
}

// The trace lines a presentation context item of either kind starts with.
template <typename Context>
void LogContextHead(const char* title, const Context& context) {
  WriteLog(title);
  WriteLog("ItemType: " + std::to_string(context.ItemType));
  WriteLog("Reserved1: " + std::to_string(context.Reserved1));
  WriteLog("Length: " + std::to_string(context.Length));
  WriteLog("PresentationContextID: " + std::to_string(context.PresentationContextID));
}

// The body length of an A-ASSOCIATE PDU: the fixed head after the length field, then its items.
// Sizing the user information writes its size lines to the trace.
template <typename Contexts>
uint32_t AssociateLength(UIDitem& appContext, Contexts& contexts, UserInformation& userInfo) {
  size_t length = 68 + appContext.Size();
  for (auto& context : contexts) length += context.Size();
  length += userInfo.Size();
  return static_cast<uint32_t>(length);
}

// The items after the fixed head of an A-ASSOCIATE PDU, in the order the peer sent them.
// `readContext` reads a presentation context of `contextType`; an item of any other type ends the
// reading after `onUnknown` has logged it.
template <typename ReadContext, typename OnUnknown>
ReadStatus ReadAssociateItems(PduReader& reader, UIDitem& appContext, UserInformation& userInfo,
                              uint8_t contextType, ReadContext readContext, OnUnknown onUnknown) {
  bool skipped = false;
  while (reader.Remaining() > 0) {
    uint8_t type = 0;
    reader.Read8("item type", type);
    if (type == 0x10) {
      if (!appContext.Read(reader)) return ReadStatus::Refused;
    } else if (type == contextType) {
      if (!readContext(reader)) return ReadStatus::Refused;
    } else if (type == 0x50) {
      if (!userInfo.ReadDynamic(reader, skipped)) return ReadStatus::Refused;
    } else {
      onUnknown(type);
      return ReadStatus::Skipped;
    }
  }
  return skipped ? ReadStatus::Skipped : ReadStatus::Complete;
}

// A-ASSOCIATE-RJ and A-ABORT: a fixed 4-byte body of single-byte fields.
bool WriteFourFieldPdu(Buffer& link, uint8_t type, uint8_t reserved,
                       const std::array<uint8_t, 4>& fields) {
  link.Write8(type);
  link.Write8(reserved);
  link.Write32(4);
  for (uint8_t field : fields) link.Write8(field);
  return link.Flush();
}

// After the type byte. A longer body within the cap is accepted; only its first 4 bytes count.
bool ReadFourFieldPdu(Buffer& link, const char* name, uint8_t& reserved, uint32_t& length,
                      const std::array<uint8_t*, 4>& fields) {
  std::vector<uint8_t> body;
  if (!ReadPduBody(link, name, 64, 4, reserved, length, body)) return false;
  for (size_t i = 0; i < fields.size(); ++i) *fields[i] = body[i];
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string Title16(const std::string& title) {
  std::string fixed = title.substr(0, kAeTitleLength);
  fixed.resize(kAeTitleLength, ' ');
  return fixed;
}

PduReader::PduReader(const uint8_t* data, size_t size, std::string context)
    : data_(data), size_(size), context_(std::move(context)) {}

bool PduReader::Need(const char* what, size_t length) {
  if (length <= Remaining()) return true;
  WriteLog("ERROR, " + context_ + ", " + what + " needs " + std::to_string(length) +
           " bytes, only " + std::to_string(Remaining()) + " remain");
  return false;
}

bool PduReader::Read8(const char* what, uint8_t& value) {
  if (!Need(what, 1)) return false;
  value = data_[position_++];
  return true;
}

bool PduReader::Read16(const char* what, uint16_t& value) {
  if (!Need(what, 2)) return false;
  value = static_cast<uint16_t>(data_[position_] << 8 | data_[position_ + 1]);
  position_ += 2;
  return true;
}

bool PduReader::Read32(const char* what, uint32_t& value) {
  if (!Need(what, 4)) return false;
  value = uint32_t{data_[position_]} << 24 | uint32_t{data_[position_ + 1]} << 16 |
          uint32_t{data_[position_ + 2]} << 8 | uint32_t{data_[position_ + 3]};
  position_ += 4;
  return true;
}

bool PduReader::ReadText(const char* what, size_t length, size_t cap, std::string& text) {
  if (length > cap) {
    WriteLog("ERROR, " + context_ + ", " + what + " length " + std::to_string(length) +
             " exceeds " + std::to_string(cap));
    return false;
  }
  if (!Need(what, length)) return false;
  text.assign(reinterpret_cast<const char*>(data_ + position_), length);
  position_ += length;
  return true;
}

bool PduReader::Skip(const char* what, size_t length) {
  if (!Need(what, length)) return false;
  position_ += length;
  return true;
}

bool PduReader::Item(const char* what, size_t length, PduReader& item) {
  if (!Need(what, length)) return false;
  item = PduReader(data_ + position_, length, context_);
  position_ += length;
  return true;
}

// ---------------------------------------------------------------------------------------------

size_t UIDitem::Size() {
  return TextItemSize(UID, Length);
}

void UIDitem::Write(Buffer& link) {
  WriteTextItem(link, ItemType, Reserved1, Length, UID);
}

bool UIDitem::Read(PduReader& reader) {
  PduReader body(nullptr, 0, "");
  return SubItem(reader, "UID item", Length, body) &&
         ReadCText(body, "UID", Length, kMaxUidLength, UID);
}

// ---------------------------------------------------------------------------------------------

size_t PresentationContext::Size() {
  size_t length = 4 + AbsSyntax.Size();
  for (UIDitem& syntax : TrnSyntax) length += syntax.Size();
  Length = Length16(length);
  return 4u + Length;
}

bool PresentationContext::Write(Buffer& link) {
  if (TrnSyntax.empty()) {
    WriteLog("ERROR, PresentationContext::Write");
    return false;
  }
  Size();
  WriteItemHead(link, ItemType, Reserved1, Length);
  link.Write8(PresentationContextID);
  link.Write8(Reserved2);
  link.Write8(Reserved3);
  link.Write8(Reserved4);
  if (Tracing()) {
    LogContextHead("INFO, PresentationContext::Write", *this);
    WriteLog("Reserved2: " + std::to_string(Reserved2));
    WriteLog("Reserved3: " + std::to_string(Reserved3));
    WriteLog("Reserved4: " + std::to_string(Reserved4));
  }
  bool sent = link.Flush();
  AbsSyntax.Write(link);
  sent = link.Flush() && sent;
  Info("AbsSyntax: " + AbsSyntax.UID);
  for (UIDitem& syntax : TrnSyntax) {
    syntax.Write(link);
    sent = link.Flush() && sent;
    Info("TrnSyntax: " + syntax.UID);
  }
  return sent;
}

bool PresentationContext::Read(PduReader& reader) {
  PduReader body(nullptr, 0, "");
  if (!SubItem(reader, "presentation context", Length, body)) return false;
  uint8_t type = 0;
  if (!body.Read8("PresentationContextID", PresentationContextID) ||
      !body.Read8("Reserved2", Reserved2) || !body.Read8("Reserved3", Reserved3) ||
      !body.Read8("Reserved4", Reserved4) || !body.Read8("abstract syntax", type) ||
      !AbsSyntax.Read(body)) {
    return false;
  }
  TrnSyntax.clear();
  while (body.Remaining() > 0) {
    UIDitem syntax(0x40, "");
    if (!body.Read8("transfer syntax", syntax.ItemType) || !syntax.Read(body)) return false;
    TrnSyntax.push_back(std::move(syntax));
  }
  if (Tracing()) {
    LogContextHead("INFO, PresentationContext::Read", *this);
    WriteLog("AbsSyntax: " + AbsSyntax.UID);
    for (const UIDitem& syntax : TrnSyntax) WriteLog("TrnSyntax: " + syntax.UID);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

size_t PresentationContextAccept::Size() {
  Length = Length16(4 + TrnSyntax.Size());
  return 4u + Length;
}

void PresentationContextAccept::Write(Buffer& link) {
  Size();
  WriteItemHead(link, ItemType, Reserved1, Length);
  link.Write8(PresentationContextID);
  link.Write8(Reserved2);
  link.Write8(Result);
  link.Write8(Reserved4);
  TrnSyntax.Write(link);
}

bool PresentationContextAccept::Read(PduReader& reader) {
  PduReader body(nullptr, 0, "");
  if (!SubItem(reader, "presentation context accept", Length, body)) return false;
  if (!body.Read8("PresentationContextID", PresentationContextID) ||
      !body.Read8("Reserved2", Reserved2) || !body.Read8("Result", Result) ||
      !body.Read8("Reserved4", Reserved4)) {
    return false;
  }
  // A refused context may come without its transfer syntax sub-item; bytes after it are
  // ignored, since the item's own length already told where the next item starts.
  if (body.Remaining() > 0) {
    if (!body.Read8("transfer syntax", TrnSyntax.ItemType) || !TrnSyntax.Read(body)) return false;
  }
  if (Tracing()) {
    LogContextHead("INFO, PresentationContextAccept::Read", *this);
    WriteLog("Reserved2: " + std::to_string(Reserved2));
    WriteLog("Result: " + std::to_string(Result));
    WriteLog("Reserved4: " + std::to_string(Reserved4));
    WriteLog("AbsSyntax: " + AbsSyntax.UID);
    WriteLog("TrnSyntax: " + TrnSyntax.UID);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

void MaxSubLength::Write(Buffer& link) {
  WriteItemHead(link, ItemType, Reserved1, 4);
  link.Write32(MaximumLength);
}

bool MaxSubLength::ReadDynamic(PduReader& reader) {
  return reader.Read32("MaximumLength", MaximumLength);
}

size_t ImpClass::Size() {
  return TextItemSize(ImplementationClassUID, Length);
}

void ImpClass::Write(Buffer& link) {
  WriteTextItem(link, ItemType, Reserved1, Length, ImplementationClassUID);
}

bool ImpClass::ReadDynamic(PduReader& reader) {
  return ReadCText(reader, "Implementation Class UID", reader.Remaining(), kMaxUidLength,
                   ImplementationClassUID);
}

void AsyncOpWindow::Write(Buffer& link) {
  WriteItemHead(link, ItemType, Reserved1, 4);
  link.Write16(MaxOperationsInvoked);
  link.Write16(MaxOperationsPerformed);
}

bool AsyncOpWindow::ReadDynamic(PduReader& reader) {
  return reader.Read16("MaxOperationsInvoked", MaxOperationsInvoked) &&
         reader.Read16("MaxOperationsPerformed", MaxOperationsPerformed);
}

size_t SCPSCURole::Size() {
  UIDLength = Length16(SOPClassUID.size());
  Length = Length16(4u + UIDLength);
  return 4u + Length;
}

void SCPSCURole::Write(Buffer& link) {
  Size();
  WriteItemHead(link, ItemType, Reserved1, Length);
  link.Write16(UIDLength);
  link.Write(SOPClassUID.data(), UIDLength);
  link.Write8(SCURole);
  link.Write8(SCPRole);
}

bool SCPSCURole::ReadDynamic(PduReader& reader) {
  return reader.Read16("UID length", UIDLength) &&
         reader.ReadText("SOP Class UID", UIDLength, kMaxUidLength, SOPClassUID) &&
         reader.Read8("SCU role", SCURole) && reader.Read8("SCP role", SCPRole);
}

size_t ImpVersion::Size() {
  return TextItemSize(ImplementationVersionName, Length);
}

void ImpVersion::Write(Buffer& link) {
  WriteTextItem(link, ItemType, Reserved1, Length, ImplementationVersionName);
}

bool ImpVersion::ReadDynamic(PduReader& reader) {
  return ReadCText(reader, "Implementation Version Name", reader.Remaining(), kMaxVersionNameLength,
                   ImplementationVersionName);
}

size_t UserIdentity::Size() {
  Length = Length16(6 + PrimaryField.size() + SecondaryField.size());
  return 4u + Length;
}

void UserIdentity::Write(Buffer& link) {
  Size();
  WriteItemHead(link, ItemType, Reserved1, Length);
  link.Write8(UserIdentityType);
  link.Write8(PositiveResponseRequested);
  WriteLengthAndText(link, PrimaryField);
  WriteLengthAndText(link, SecondaryField);
}

bool UserIdentity::ReadDynamic(PduReader& reader) {
  return reader.Read8("UserIdentityType", UserIdentityType) &&
         reader.Read8("PositiveResponseRequested", PositiveResponseRequested) &&
         ReadLengthAndText(reader, "primary field length", "primary field", kMaxIdentityFieldLength,
                           PrimaryField) &&
         ReadLengthAndText(reader, "secondary field length", "secondary field",
                           kMaxIdentityFieldLength, SecondaryField);
}

size_t UserIdentityResponse::Size() {
  Length = Length16(2 + ServerResponse.size());
  return 4u + Length;
}

void UserIdentityResponse::Write(Buffer& link) {
  Size();
  WriteItemHead(link, ItemType, Reserved1, Length);
  WriteLengthAndText(link, ServerResponse);
}

bool UserIdentityResponse::ReadDynamic(PduReader& reader) {
  return ReadLengthAndText(reader, "server response length", "server response",
                           kMaxIdentityFieldLength, ServerResponse);
}

// ---------------------------------------------------------------------------------------------

size_t UserInformation::Size() {
  size_t length = MaxLength.Size();
  Info("INFO, MaxSubLength::Size, Length=8, MaxSubLength.MaximumLength=" +
       std::to_string(MaxLength.MaximumLength));
  const size_t classSize = ImplementationClass.Size();
  length += classSize;
  Info("INFO, ImpClass::Size, Length=" + std::to_string(classSize) +
       Quoted(ImplementationClass.ImplementationClassUID));
  const size_t versionSize = ImplementationVersion.Size();
  length += versionSize;
  Info("INFO, ImpVersion::Size, Length=" + std::to_string(versionSize) +
       Quoted(ImplementationVersion.ImplementationVersionName));
  if (!Role.SOPClassUID.empty()) {
    const size_t roleSize = Role.Size();
    length += roleSize;
    Info("INFO, SCPSCURole::Size, Length=" + std::to_string(roleSize) + Quoted(Role.SOPClassUID));
  }
  if (!Identity.PrimaryField.empty()) {
    const size_t identitySize = Identity.Size();
    length += identitySize;
    Info("INFO, UserIdent::Size, Length=" + std::to_string(identitySize));
  }
  if (!IdentityResponse.ServerResponse.empty()) {
    const size_t responseSize = IdentityResponse.Size();
    length += responseSize;
    Info("INFO, UserIdentRes::Size, Length=" + std::to_string(responseSize));
  }
  Length = Length16(length);
  Info("INFO, UserInformation::Size, Length=" + std::to_string(Length));
  return 4u + Length;
}

// Length was computed by the PDU's Size, which also wrote the size lines to the log.
void UserInformation::Write(Buffer& link) {
  WriteItemHead(link, ItemType, Reserved1, Length);
  link.Flush();
  MaxLength.Write(link);
  link.Flush();
  ImplementationClass.Write(link);
  link.Flush();
  ImplementationVersion.Write(link);
  link.Flush();
  if (!Role.SOPClassUID.empty()) {
    Role.Write(link);
    link.Flush();
  }
  if (!Identity.PrimaryField.empty()) {
    Identity.Write(link);
    link.Flush();
  }
  if (!IdentityResponse.ServerResponse.empty()) {
    IdentityResponse.Write(link);
    link.Flush();
  }
}

bool UserInformation::ReadDynamic(PduReader& reader, bool& skipped) {
  PduReader body(nullptr, 0, "");
  if (!SubItem(reader, "user information", Length, body)) return false;
  Info("INFO, UserInformation::ReadDynamic, Count=" + std::to_string(Length));
  while (body.Remaining() > 0) {
    uint8_t type = 0;
    uint16_t length = 0;
    PduReader item(nullptr, 0, "");
    if (!body.Read8("sub-item type", type) ||
        !SubItem(body, "user information sub-item", length, item)) {
      return false;
    }
    const std::string count = std::to_string(body.Remaining());
    switch (type) {
      case 0x51:
        if (!MaxLength.ReadDynamic(item)) return false;
        HasMaxLength = true;
        Info("INFO, MaxSubLength::ReadDynamic, Count=" + count +
             ", MaxSubLength.MaximumLength=" + std::to_string(MaxLength.MaximumLength));
        break;
      case 0x52:
        if (!ImplementationClass.ReadDynamic(item)) return false;
        Info("INFO, ImpClass::ReadDynamic, Count=" + count +
             Quoted(ImplementationClass.ImplementationClassUID));
        break;
      case 0x53:
        if (!AsyncWindow.ReadDynamic(item)) return false;
        Info("INFO, AsyncOpWindow::ReadDynamic, Count=" + count);
        break;
      case 0x54:
        if (!Role.ReadDynamic(item)) return false;
        Info("INFO, SCPSCURole::ReadDynamic, Count=" + count);
        break;
      case 0x55:
        if (!ImplementationVersion.ReadDynamic(item)) return false;
        Info("INFO, ImpVersion::ReadDynamic, Count=" + count +
             Quoted(ImplementationVersion.ImplementationVersionName));
        break;
      case 0x58:
        if (!Identity.ReadDynamic(item)) return false;
        Info("INFO, UserIdent::ReadDynamic, Count=" + count);
        break;
      case 0x59:
        if (!IdentityResponse.ReadDynamic(item)) return false;
        Info("INFO, UserIdentRes::ReadDynamic, Count=" + count + ", " +
             IdentityResponse.ServerResponse);
        break;
      default:
        // Its length is known and within the item, so only this sub-item is passed over.
        WriteLog("WARNING, UserInformation::Read Unknown Packet");
        skipped = true;
        break;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------

size_t AAssociateRQ::Size() {
  Length = AssociateLength(AppContext, PresContexts, UserInfo);
  return Length + 6u;
}

bool AAssociateRQ::Write(Buffer& link) {
  Size();
  WriteAssociateHeader(link, *this);
  if (Tracing()) {
    WriteLog("INFO, AAssociateRQ::Write");
    LogHeaderFields(*this);
  }
  if (!link.Flush()) {
    WriteLog("ERROR, AAssociateRQ::Write Link.Flush()");
    return false;
  }
  AppContext.Write(link);
  if (!link.Flush()) {
    WriteLog("ERROR, AAssociateRQ::Write AppContext.Write()");
    return false;
  }
  bool sent = true;
  for (PresentationContext& context : PresContexts) sent = context.Write(link) && sent;
  UserInfo.Write(link);
  // A failed send closes nothing by itself; the connection reports it at the next flush.
  return sent && link.dsocket.Connected;
}

ReadStatus AAssociateRQ::Read(Buffer& link) {
  std::vector<uint8_t> body;
  if (!ReadPduBody(link, "AAssociateRQ", kMaxAssociatePduLength, 68, Reserved1, Length, body)) {
    return ReadStatus::Refused;
  }
  PduReader reader(body.data(), body.size(), "AAssociateRQ::Read");
  if (!ParseAssociateHeader(reader, *this)) return ReadStatus::Refused;
  if (Tracing()) {
    WriteLog("INFO, AAssociateRQ::Read");
    LogHeaderFields(*this);
  }
  PresContexts.clear();
  return ReadAssociateItems(
      reader, AppContext, UserInfo, 0x20,
      [this](PduReader& items) {
        PresentationContext context;
        if (!context.Read(items)) return false;
        PresContexts.push_back(std::move(context));
        return true;
      },
      [](uint8_t) { WriteLog("WARNING, AAssociateRQ::Read Unknown Packet"); });
}

// ---------------------------------------------------------------------------------------------

size_t AAssociateAC::Size() {
  Length = AssociateLength(AppContext, PresContextAccepts, UserInfo);
  return Length + 6u;
}

bool AAssociateAC::Write(Buffer& link) {
  Size();
  WriteAssociateHeader(link, *this);
  AppContext.Write(link);
  for (PresentationContextAccept& accept : PresContextAccepts) accept.Write(link);
  UserInfo.Write(link);
  return link.Flush();
}

ReadStatus AAssociateAC::ReadDynamic(Buffer& link) {
  std::vector<uint8_t> body;
  if (!ReadPduBody(link, "AAssociateAC", kMaxAssociatePduLength, 68, Reserved1, Length, body)) {
    return ReadStatus::Refused;
  }
  PduReader reader(body.data(), body.size(), "AAssociateAC::Read");
  return ParseBody(reader);
}

ReadStatus AAssociateAC::ParseBody(PduReader& reader) {
  if (!ParseAssociateHeader(reader, *this)) return ReadStatus::Refused;
  if (LogLevel.load() > 2) {
    WriteLog("INFO, AAssociateAC::Read");
    LogHeaderFields(*this);
  }
  return ReadAssociateItems(
      reader, AppContext, UserInfo, 0x21,
      [this](PduReader& items) {
        PresentationContextAccept accept;
        accept.PresentationContextID = NextAcceptID();
        if (!accept.Read(items)) return false;
        PresContextAccepts.push_back(std::move(accept));
        return true;
      },
      [](uint8_t type) {
        // The rest of the PDU is already in memory and is simply not looked at.
        WriteLog("WARNING, AAssociateAC::Read Unknown Packet " + std::to_string(type));
      });
}

// ---------------------------------------------------------------------------------------------

bool AAssociateRJ::Write(Buffer& link) {
  return WriteFourFieldPdu(link, ItemType, Reserved1, {Reserved2, Result, Source, Reason});
}

bool AAssociateRJ::Read(Buffer& link) {
  return ReadFourFieldPdu(link, "AAssociateRJ", Reserved1, Length,
                          {&Reserved2, &Result, &Source, &Reason});
}

bool AReleasePDU::Write(Buffer& link) {
  link.Write8(ItemType);
  link.Write8(Reserved1);
  link.Write32(4);
  link.Write32(Reserved2);
  return link.Flush();
}

bool AReleasePDU::Read(Buffer& link) {
  std::vector<uint8_t> body;
  if (!ReadPduBody(link, ItemType == 0x05 ? "AReleaseRQ" : "AReleaseRP", 64, 4, Reserved1, Length,
                   body)) {
    return false;
  }
  Reserved2 = uint32_t{body[0]} << 24 | uint32_t{body[1]} << 16 | uint32_t{body[2]} << 8 |
              uint32_t{body[3]};
  return true;
}

bool AAbortRQ::Write(Buffer& link) {
  return WriteFourFieldPdu(link, ItemType, Reserved1, {Reserved2, Reserved3, Source, Reason});
}

bool AAbortRQ::Read(Buffer& link) {
  return ReadFourFieldPdu(link, "AAbortRQ", Reserved1, Length,
                          {&Reserved2, &Reserved3, &Source, &Reason});
}

// ---------------------------------------------------------------------------------------------

bool PDataTF::ReadDynamic(Buffer& link) {
  // Whatever goes wrong leaves the stream unusable, so no later call may read on inside this PDU.
  const auto refuse = [this](const std::string& line) {
    Length = 0;
    WriteLog("ERROR, PDataTF::ReadDynamic, " + line);
    return false;
  };
  if (Length == 0) {
    if (!link.Read8(Reserved1) || !link.Read32(Length)) {
      return refuse("connection ended in the PDU header");
    }
    if (Length > MaxReceiveLength) {
      return refuse("PDU length " + std::to_string(Length) + " exceeds " +
                    std::to_string(MaxReceiveLength));
    }
  }
  LastFragment = false;
  while (Length > 0) {
    uint8_t contextId = 0;
    if (Length < 6 || !link.Read32(ItemLength) || !link.Read8(contextId) ||
        !link.Read8(ReceivedControlHeader)) {
      return refuse("item header does not fit in the PDU");
    }
    // The item must hold its two header bytes and end inside the PDU.
    if (ItemLength < 2 || ItemLength > Length - 4) {
      return refuse("item length " + std::to_string(ItemLength) +
                    " does not fit in the PDU length " + std::to_string(Length));
    }
    // A message is either a command set or a data set; fragments that change between the two
    // cannot be put together into either.
    const uint8_t commandBit = ReceivedControlHeader & 0x01;
    if (MessageStarted && commandBit != MessageCommandBit) {
      return refuse("fragments of one message mix command and data set");
    }
    MessageStarted = true;
    MessageCommandBit = commandBit;
    if (VRBuffer.IncomingCount() + (ItemLength - 2) > MaxMessageLength) {
      return refuse("message longer than " + std::to_string(MaxMessageLength));
    }
    if (!VRBuffer.MoveIn(link, ItemLength - 2)) return refuse("VRBuffer.MoveIn");
    Length -= ItemLength + 4;
    PresentationContextID = contextId;
    if (ReceivedControlHeader & 0x02) {
      LastFragment = true;
      return true;
    }
  }
  return true;
}
