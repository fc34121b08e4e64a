// Verification and storage as a service user: C-ECHO to test a peer, C-STORE of one data set.
#pragma once

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

// Sends one C-STORE request on the association's chosen context, first converting an image to
// the accepted transfer syntax (or relabelling an explicit little-endian non-image object as
// implicit). The data set stays as converted. Returns one of the kStore* codes.
int WriteStoreRQ(PDU_Service& service, DcmObj& dataSet, const std::string& sopClassUid);
// The C-STORE response status: 0 success, any other status as received, -1 nothing read, -2 not
// a C-STORE response.
int ReadStoreRSP(PDU_Service& service);
