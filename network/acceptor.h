// Accepting one association on a connection a listener took: the acceptor's half of PS3.8's
// association establishment, for the few SOP classes this program serves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class PDU_Service;

struct AcceptPolicy {
  // The AE title callers must address; empty accepts any called AE title.
  std::string ownAeTitle;
  // The abstract syntaxes served. Each is accepted in Implicit or Explicit VR Little Endian,
  // whichever the caller proposes first; when the caller asks to take the SCP role for one of
  // them (role selection, PS3.7 D.3.3.4), that role is granted and the SCU role declined.
  std::vector<std::string> abstractSyntaxes;
  // Who may call: when set, an association from another calling AE title, or from another IPv4
  // address (network byte order), is rejected (calling AE title not recognized) and logged with
  // the caller's address and AE title.
  std::string callerAeTitle;
  std::optional<uint32_t> callerAddress;
};

// Takes ownership of the connected `descriptor`, reads the A-ASSOCIATE-RQ and answers it. Accepted
// when the application context is DICOM's, the called AE title fits the policy and at least one
// context is served; rejected with the matching reason otherwise, and aborted on a malformed or
// unexpected PDU. On success the service is established: Read and Write work as for a requestor,
// messages going out within the caller's maximum length. `timeoutSeconds` bounds every receive.
bool AcceptAssociation(PDU_Service& service, int descriptor, const AcceptPolicy& policy,
                       int timeoutSeconds);
