// Verification and storage as a service user: C-ECHO to test a peer, C-STORE of one data set.
#pragma once

#include <cstdint>
#include <string>

#include "dcmobj.h"
#include "remotenode.h"

class PDU_Service;

// One C-ECHO on its own association; true when the peer answered with status 0.
bool EchoSCU(const std::string& callingAet, const std::string& calledAet, const std::string& host,
             const std::string& port, int timeoutSeconds, bool useTls);
bool EchoSCU(const RemoteNode& node, int timeoutSeconds);

// Results of WriteStoreRQ.
inline constexpr int kStoreWritten = 0;
inline constexpr int kStoreNoContext = -1;
inline constexpr int kStoreUnknownTransferSyntax = -2;
inline constexpr int kStoreConversionFailed = -3;
inline constexpr int kStoreWriteFailed = -4;

// The accepted context an object in this transfer syntax goes out on: the one in its own syntax,
// else Implicit or Explicit VR Little Endian, else the negotiated one; 0 when none was accepted.
uint8_t ChooseStoreContext(const PDU_Service& service, const std::string& transferSyntax);

// Sends one C-STORE request on the context ChooseStoreContext gives, first converting an image to
// the accepted transfer syntax (or relabelling an explicit little-endian non-image object as
// implicit). The data set stays as converted. Returns one of the kStore* codes.
int WriteStoreRQ(PDU_Service& service, DcmObj& dataSet, const std::string& sopClassUid);
// The C-STORE response status: 0 success, any other status as received (StoreOutcomeFromStatus
// tells stored with a warning from failed), -1 nothing read, -2 not a C-STORE response,
// kStoreResponseMismatch a response to another request. The peer's Error Comment goes to
// `errorComment` when given.
int ReadStoreRSP(PDU_Service& service, std::string* errorComment = nullptr);
