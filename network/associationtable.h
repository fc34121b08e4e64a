// The upper layer's state machine for an association requestor, written as PS3.8 Table 9-10 is:
// for every state and event, the action to take and the state that follows.
#pragma once

#include <cstdint>

// The states a requestor can reach (PS3.8 Table 9-1). The closing states keep how the
// association ended, so that callers can say why nothing more may be sent.
enum class AssociationState {
  Idle,                    // Sta1: no connection
  AwaitingAccept,          // Sta5: request sent, awaiting A-ASSOCIATE-AC or -RJ
  Established,             // Sta6: messages may flow
  AwaitingReleaseReply,    // Sta7: our A-RELEASE-RQ sent, awaiting A-RELEASE-RP
  ReleaseRequestedByPeer,  // Sta8: the peer's A-RELEASE-RQ arrived, our answer is due
  ReleaseCollision,        // Sta9: both sides asked for a release; as requestor we answer first
  AwaitingCollisionReply,  // Sta11: our answer to the collision sent, awaiting the peer's
  Released,                // Sta13: the peer released and got our answer; it closes
  Aborted,                 // either side aborted, or the connection failed
};

// The events of PS3.8 Table 9-10 that reach a requestor, with their numbers.
enum class AssociationEvent {
  AssociateRequest,    // Evt1/Evt2: connect and send the A-ASSOCIATE-RQ
  AssociateAccepted,   // Evt3: A-ASSOCIATE-AC received
  AssociateRejected,   // Evt4: A-ASSOCIATE-RJ received
  AssociateRequested,  // Evt6: A-ASSOCIATE-RQ received
  DataRequest,         // Evt9: a message to send
  DataReceived,        // Evt10: P-DATA-TF received
  ReleaseRequest,      // Evt11: we want to release
  ReleaseRequested,    // Evt12: A-RELEASE-RQ received
  ReleaseReplied,      // Evt13: A-RELEASE-RP received
  ReleaseResponse,     // Evt14: our answer to the peer's release request
  AbortRequest,        // Evt15: we abort
  AbortReceived,       // Evt16: A-ABORT received
  ConnectionClosed,    // Evt17: the connection ended (or timed out)
  InvalidPdu,          // Evt19: an unrecognised or malformed PDU
};

// The actions of PS3.8 Tables 9-6 to 9-9 a requestor takes, and Refuse for a local request the
// state does not allow (nothing is sent, the state stays).
enum class AssociationAction {
  Refuse,
  AE2_SendAssociateRQ,
  AE3_Accepted,
  AE4_RejectedClose,
  DT1_SendData,
  DT2_DataIndication,
  AR1_SendReleaseRQ,
  AR2_ReleaseIndication,
  AR3_ReleaseConfirmedClose,
  AR4_SendReleaseRP,
  AR6_DataWhileReleasing,
  AR8_ReleaseCollision,
  AR9_SendCollisionReleaseRP,
  AA1_SendAbort,
  AA3_AbortedByPeerClose,
  AA4_ConnectionLost,
  AA6_Ignore,
  AA7_SendAbort,
  AA8_UnexpectedSendAbort,
};

struct AssociationTransition {
  AssociationAction action;
  AssociationState next;
};

// The table's cell for this state and event.
AssociationTransition NextTransition(AssociationState state, AssociationEvent event);

// Names for log lines.
const char* StateName(AssociationState state);
const char* ActionName(AssociationAction action);
