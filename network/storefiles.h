// Storing existing Part 10 files as they are: one association per SOP class and transfer syntax,
// the data set streamed from the file so that only a small window of it is ever in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "bufdata.h"
#include "remotenode.h"

class PDU_Service;

// What the file meta group of a Part 10 file says, and where its data set starts.
struct Part10Header {
  std::string sopClassUid;
  std::string sopInstanceUid;
  std::string transferSyntaxUid;
  uint64_t dataSetOffset = 0;
  uint64_t fileSize = 0;
  bool guessed = false;  // the transfer syntax was guessed from the data set's first element
};

// Reads only the preamble and the file meta group. A file without them, or whose meta group lacks
// the class, instance or transfer syntax, is read whole: the data set gives the class and
// instance, and its first element the encoding (the one the bytes are sent in). False with
// `error` when the file cannot be read or is no DICOM data set.
bool ReadPart10Header(const std::string& path, Part10Header& header, std::string& error);

// Sends one file with C-STORE on an established association and reads the response. When the
// accepted transfer syntax is the file's, the data set goes out byte for byte from the file;
// otherwise the file is read whole and converted as WriteStoreRQ does. Returns the response
// status (StoreOutcomeFromStatus tells whether it was stored; `error` names a failure status), or
// a negative code with `error` saying why.
int StoreFile(PDU_Service& service, const std::string& path, const Part10Header& header,
              std::string& error);

// Hands the bytes of a data set, in order, to the sink it is given; false when it could not make
// them all (a refusal of the sink's need not stop it).
using DataSetProducer = std::function<bool(const PieceSink& sink)>;

// True when an object in this transfer syntax goes out byte for byte on the association: a context
// was accepted for it in its own syntax.
bool SendsAsItIs(const PDU_Service& service, const std::string& transferSyntaxUid);

// Sends one C-STORE whose data set, in a transfer syntax the association sends as it is
// (SendsAsItIs), is handed on by `produce` while it is made, and reads the response. The last
// bytes of the message go out only once `produce` has returned true: when it fails, or the
// connection does, the association is aborted and the peer never holds the object. Returns as
// StoreFile does.
int StoreProduced(PDU_Service& service, const std::string& sopClassUid,
                  const std::string& sopInstanceUid, const std::string& transferSyntaxUid,
                  const DataSetProducer& produce, std::string& error);

// Opens the association StoreFiles uses for files of one SOP class in one transfer syntax: the
// file's own syntax where a context may carry it, with a fallback the data set can be converted to.
bool OpenFileStoreAssociation(PDU_Service& service, const RemoteNode& node,
                              const std::string& sopClassUid, const std::string& transferSyntaxUid,
                              int timeoutSeconds);

// Called after each file with its place in the whole run and whether it was stored.
using StoreFileProgress =
    std::function<void(const std::string& path, size_t index, size_t total, bool stored)>;

// Stores every file, grouped by SOP class and transfer syntax in order of first appearance, one
// association per group. A warning status counts as stored. `errors` receives one line per file
// that was not stored. True when all were stored.
bool StoreFiles(const std::vector<std::string>& paths, const RemoteNode& node, int timeoutSeconds,
                std::vector<std::string>& errors, const StoreFileProgress& progress = {});
