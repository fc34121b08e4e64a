// Storing existing Part 10 files: meta group reading, grouping, and the streamed C-STORE.
#include "storefiles.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "bufdata.h"
#include "dicomfile.h"
#include "dimse.h"
#include "fragmentwriter.h"
#include "log.h"
#include "pdu_service.h"
#include "storage.h"
#include "storeoutcome.h"
#include "uids.h"

namespace {

// The meta group is read from this much of the file's start; real ones are a few hundred bytes.
constexpr size_t kMetaWindow = 1 << 20;
constexpr size_t kFirstMetaWindow = 16 << 10;
// The data set is read and sent in pieces of this size.
constexpr size_t kStreamChunk = 1 << 20;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Data bytes per P-DATA-TF PDU: the peer's limit less the item header, capped at our own limit
// (also for a peer that states no limit, 0) as PDU_Service::Write does; 0 when the peer's limit
// leaves no room for data.
size_t FragmentSize(const PDU_Service& service) {
  uint32_t limit = service.assocAC.UserInfo.MaxLength.MaximumLength;
  if (limit == 0 || limit > kOwnMaximumLength) limit = kOwnMaximumLength;
  return limit < 7 ? 0 : limit - 6;
}

// Sends the data set `produce` hands on as the data-set message of the current C-STORE, the last
// PDU held back until it returned true. The association is aborted when the message cannot be
// completed.
bool StreamDataSet(PDU_Service& service, const DataSetProducer& produce, std::string& error) {
  if (FragmentSize(service) == 0) {
    WriteLog("ERROR, PDU_Service::Write, peer maximum length " +
             std::to_string(service.assocAC.UserInfo.MaxLength.MaximumLength) + " is too small");
    error = "the peer's maximum PDU length leaves no room for data";
    service.Abort(AbortReason::NotSpecified);
    return false;
  }
  FragmentWriter writer(service.Link.dsocket, service.pdata.PresentationContextID, false,
                        FragmentSize(service));
  bool connected = true;
  const bool produced = produce([&](const uint8_t* bytes, size_t size) {
    connected = connected && writer.Add(bytes, size);
    return connected;
  });
  if (!produced || !connected || !writer.Finish()) {
    if (error.empty()) {
      error = produced ? "the connection failed while sending" : "the object could not be read";
    }
    // The message cannot be completed; end the association rather than leave it half-sent.
    service.Abort(AbortReason::NotSpecified);
    return false;
  }
  return true;
}

// Reads the C-STORE response and says what a failure status means.
int ReadStoreResponse(PDU_Service& service, std::string& error) {
  std::string comment;
  const int status = ReadStoreRSP(service, &comment);
  if (status == -1) error = "no C-STORE response";
  if (status == -2) error = "the response was not a C-STORE response";
  if (status == kStoreResponseMismatch) error = "the C-STORE response answers another request";
  // A warning is stored all the same; only a failure is reported as one.
  if (status > 0 && !StoreOutcomeFromStatus(status).IsStored()) {
    error = "the peer answered with " + StoreStatusText(status) +
            (comment.empty() ? "" : ", Error Comment: " + comment);
  }
  return status;
}

// The header of a file whose meta group is missing or incomplete: the whole file is read, in the
// encoding its first element shows when the meta group does not name it, and the class and
// instance come from the data set.
bool ReadHeaderFromDataSet(const std::string& path, Part10Header& header, std::string& error) {
  DicomFile file;
  if (!ReadDicomFile(path, file, error)) {
    error = path + ": " + error;
    return false;
  }
  auto either = [&](uint16_t metaElement, uint16_t dataSetElement) {
    const std::string value = file.meta.GetString(0x0002, metaElement);
    return value.empty() ? file.dataSet.GetString(0x0008, dataSetElement) : value;
  };
  header.sopClassUid = either(0x0002, 0x0016);
  header.sopInstanceUid = either(0x0003, 0x0018);
  header.transferSyntaxUid = file.fileTransferSyntax;
  header.dataSetOffset = file.dataSetOffset;
  header.guessed = file.guessed;
  if (header.sopClassUid.empty() || header.sopInstanceUid.empty()) {
    error =
        path + ": neither the file meta group nor the data set gives the SOP class and instance";
    return false;
  }
  return true;
}

}  // namespace

bool ReadPart10Header(const std::string& path, Part10Header& header, std::string& error) {
  header = Part10Header{};
  std::error_code status;
  if (!std::filesystem::is_regular_file(path, status)) {
    error = "cannot open " + path + ": not a regular file";
    return false;
  }
  header.fileSize = std::filesystem::file_size(path, status);
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  // A first look at the file's start finds the usual meta group of a few hundred bytes; only a
  // group reaching past it makes the larger window worth reading.
  BufData buffer(false);
  DcmObj meta;
  for (const size_t window : {kFirstMetaWindow, kMetaWindow}) {
    const bool last = window == kMetaWindow || header.fileSize <= window;
    buffer = BufData(false);
    buffer.stream.resize(static_cast<size_t>(std::min<uint64_t>(header.fileSize, window)));
    if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
        std::fread(buffer.stream.data(), 1, buffer.stream.size(), file.get()) !=
            buffer.stream.size()) {
      error = "cannot read " + path;
      return false;
    }
    const auto& bytes = buffer.stream;
    if (bytes.size() < 132 || bytes[128] != 'D' || bytes[129] != 'I' || bytes[130] != 'C' ||
        bytes[131] != 'M') {
      // No preamble: a bare data set, perhaps after a meta group.
      return ReadHeaderFromDataSet(path, header, error);
    }
    buffer.position = 132;
    meta.entries.clear();
    meta.SetTransferSyntax(kExplicitVRLittleEndian);
    bool cut = false;
    while (buffer.Remaining() >= 2 && bytes[buffer.position] == 0x02 &&
           bytes[buffer.position + 1] == 0x00) {
      auto tag = std::make_unique<DcmTag>();
      if (!buffer.ReadTag(*tag, true, true) || buffer.shortReads != 0) {
        cut = true;
        break;
      }
      meta.Append(std::move(tag));
    }
    if (!last && (cut || buffer.Remaining() < 2)) continue;
    if (cut) {
      error = path + ": the file meta group is truncated or corrupt";
      return false;
    }
    if (buffer.Remaining() == 0 && bytes.size() == kMetaWindow) {
      error = path + ": the file meta group is too large";
      return false;
    }
    break;
  }
  header.dataSetOffset = buffer.position;
  header.sopClassUid = meta.GetString(0x0002, 0x0002);
  header.sopInstanceUid = meta.GetString(0x0002, 0x0003);
  header.transferSyntaxUid = meta.GetString(0x0002, 0x0010);
  if (header.sopClassUid.empty() || header.sopInstanceUid.empty() ||
      header.transferSyntaxUid.empty()) {
    return ReadHeaderFromDataSet(path, header, error);
  }
  return true;
}

bool SendsAsItIs(const PDU_Service& service, const std::string& transferSyntaxUid) {
  const uint8_t context = ChooseStoreContext(service, transferSyntaxUid);
  return context != 0 && service.GetTransferSyntaxUID(context) == transferSyntaxUid;
}

int StoreProduced(PDU_Service& service, const std::string& sopClassUid,
                  const std::string& sopInstanceUid, const std::string& transferSyntaxUid,
                  const DataSetProducer& produce, std::string& error) {
  const uint8_t context = ChooseStoreContext(service, transferSyntaxUid);
  if (context == 0) {
    error = "no accepted presentation context";
    return kStoreNoContext;
  }
  if (service.GetTransferSyntaxUID(context) != transferSyntaxUid) {
    error = "the accepted transfer syntax is not the object's";
    return kStoreUnknownTransferSyntax;
  }
  service.pdata.PresentationContextID = context;
  auto command = BuildStoreRQ(sopClassUid, sopInstanceUid, NextMessageID());
  if (!WriteRequestCommand(service, *command, sopClassUid)) {
    WriteLog("ERROR, CStore::WriteRQ, PDU->Write DCO failed");
    error = "the C-STORE request could not be sent";
    return kStoreWriteFailed;
  }
  if (!StreamDataSet(service, produce, error)) return kStoreWriteFailed;
  return ReadStoreResponse(service, error);
}

int StoreFile(PDU_Service& service, const std::string& path, const Part10Header& header,
              std::string& error) {
  const uint8_t context = ChooseStoreContext(service, header.transferSyntaxUid);
  if (context == 0) {
    error = "no accepted presentation context";
    return kStoreNoContext;
  }
  service.pdata.PresentationContextID = context;
  const std::optional<std::string> accepted = service.GetTransferSyntaxUID(context);
  if (!accepted) {
    error = "the accepted transfer syntax is unknown";
    return kStoreUnknownTransferSyntax;
  }
  if (*accepted == header.transferSyntaxUid) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    if (!file || std::fseek(file.get(), static_cast<long>(header.dataSetOffset), SEEK_SET) != 0) {
      error = "cannot open " + path;
      return kStoreWriteFailed;
    }
    // The chunk the file is read into stays with the thread, so storing file after file
    // allocates nothing.
    thread_local std::vector<uint8_t> chunk;
    if (chunk.size() < kStreamChunk) chunk.resize(kStreamChunk);
    return StoreProduced(
        service, header.sopClassUid, header.sopInstanceUid, header.transferSyntaxUid,
        [&](const PieceSink& sink) {
          for (uint64_t remaining = header.fileSize - header.dataSetOffset; remaining > 0;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, chunk.size()));
            if (std::fread(chunk.data(), 1, want, file.get()) != want) {
              error = "the file could not be read to its end";
              return false;
            }
            remaining -= want;
            if (!sink(chunk.data(), want)) return true;  // the connection failed: said there
          }
          return true;
        },
        error);
  }
  // The peer wants another encoding: this object has to be decoded and converted in memory.
  DicomFile dicom;
  if (!ReadDicomFile(path, dicom, error)) return kStoreConversionFailed;
  // A big-endian data set of any class goes out in explicit VR little endian: its elements
  // carry their VRs, and the writer puts their numbers into the order it writes. Images also
  // have their pixel data converted on the way.
  if (dicom.dataSet.transferSyntax == kExplicitVRBigEndian &&
      *accepted == kExplicitVRLittleEndian && !IsImageStorageClass(header.sopClassUid)) {
    dicom.dataSet.SetTransferSyntax(kExplicitVRLittleEndian);
  }
  const int written = WriteStoreRQ(service, dicom.dataSet, header.sopClassUid);
  if (written != kStoreWritten) {
    error = written == kStoreConversionFailed
                ? "cannot convert from " + header.transferSyntaxUid + " to " + *accepted
                : "the C-STORE request could not be sent";
    return written;
  }
  return ReadStoreResponse(service, error);
}

bool OpenFileStoreAssociation(PDU_Service& service, const RemoteNode& node,
                              const std::string& sopClassUid, const std::string& transferSyntaxUid,
                              int timeoutSeconds) {
  const std::string& syntax = transferSyntaxUid;
  // A deflated or big-endian data set goes out as it is when the peer takes that; otherwise it
  // is sent re-encoded, in explicit VR little endian when the peer takes that. Any other file
  // is proposed in its own syntax in one context and as Implicit VR Little Endian in a second;
  // one in a syntax no context may carry is proposed as Implicit VR Little Endian only and
  // converted.
  const bool reencodable =
      syntax == kDeflatedExplicitVRLittleEndian || syntax == kExplicitVRBigEndian;
  const std::string proposed = IsSendableTransferSyntax(syntax) ? syntax : "";
  return reencodable
             ? OpenNodeAssociation(service, node, sopClassUid, proposed, kExplicitVRLittleEndian,
                                   timeoutSeconds)
             : OpenNodeStoreAssociation(service, node, sopClassUid, proposed, timeoutSeconds);
}

bool StoreFiles(const std::vector<std::string>& paths, const RemoteNode& node, int timeoutSeconds,
                std::vector<std::string>& errors, const StoreFileProgress& progress) {
  struct Group {
    std::string sopClassUid;
    std::string transferSyntaxUid;
    std::vector<std::pair<size_t, Part10Header>> files;  // index into `paths`, header
  };
  std::vector<Group> groups;
  bool allStored = true;
  size_t done = 0;
  auto report = [&](size_t index, bool stored) {
    if (progress) progress(paths[index], done, paths.size(), stored);
    ++done;
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    Part10Header header;
    std::string error;
    if (!ReadPart10Header(paths[i], header, error)) {
      errors.push_back(error);
      allStored = false;
      report(i, false);
      continue;
    }
    auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
      return g.sopClassUid == header.sopClassUid && g.transferSyntaxUid == header.transferSyntaxUid;
    });
    if (group == groups.end()) {
      groups.push_back({header.sopClassUid, header.transferSyntaxUid, {}});
      group = groups.end() - 1;
    }
    group->files.emplace_back(i, std::move(header));
  }
  for (const Group& group : groups) {
    PDU_Service service;
    const bool open = OpenFileStoreAssociation(service, node, group.sopClassUid,
                                               group.transferSyntaxUid, timeoutSeconds);
    if (!open) WriteLog("ERROR, Can't open association with: " + node.calledAet);
    for (const auto& [index, header] : group.files) {
      std::string error;
      const bool established = service.State() == AssociationState::Established;
      const bool stored =
          open && established &&
          StoreOutcomeFromStatus(StoreFile(service, paths[index], header, error)).IsStored();
      if (!stored) {
        if (!open) error = "no association with " + node.calledAet + " for " + header.sopClassUid;
        if (open && !established) {
          error = std::string("not sent, association ") + StateName(service.State());
        }
        if (error.empty()) error = "the association was lost";
        errors.push_back(paths[index] + ": " + error);
        allStored = false;
      }
      report(index, stored);
    }
    if (!CloseAssociation(service) && open) {
      WriteLog("WARNING, StoreFiles, the association with " + node.calledAet +
               " ended without a completed release");
    }
  }
  return allStored;
}
