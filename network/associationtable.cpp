// The requestor's rows of PS3.8 Table 9-10 as data, and the rules for the cells it leaves alike.
#include "associationtable.h"

namespace {

using State = AssociationState;
using Event = AssociationEvent;
using Action = AssociationAction;

struct Row {
  State state;
  Event event;
  Action action;
  State next;
};

// The cells that differ from the rules below, state by state.
constexpr Row kRows[] = {
    // Sta1
    {State::Idle, Event::AssociateRequest, Action::AE2_SendAssociateRQ, State::AwaitingAccept},
    // Sta5
    {State::AwaitingAccept, Event::AssociateAccepted, Action::AE3_Accepted, State::Established},
    {State::AwaitingAccept, Event::AssociateRejected, Action::AE4_RejectedClose, State::Idle},
    // Sta6
    {State::Established, Event::DataRequest, Action::DT1_SendData, State::Established},
    {State::Established, Event::DataReceived, Action::DT2_DataIndication, State::Established},
    {State::Established, Event::ReleaseRequest, Action::AR1_SendReleaseRQ,
     State::AwaitingReleaseReply},
    {State::Established, Event::ReleaseRequested, Action::AR2_ReleaseIndication,
     State::ReleaseRequestedByPeer},
    // Sta7
    {State::AwaitingReleaseReply, Event::DataReceived, Action::AR6_DataWhileReleasing,
     State::AwaitingReleaseReply},
    {State::AwaitingReleaseReply, Event::ReleaseRequested, Action::AR8_ReleaseCollision,
     State::ReleaseCollision},
    {State::AwaitingReleaseReply, Event::ReleaseReplied, Action::AR3_ReleaseConfirmedClose,
     State::Idle},
    // Sta8
    {State::ReleaseRequestedByPeer, Event::ReleaseResponse, Action::AR4_SendReleaseRP,
     State::Released},
    // Sta9 (the requestor's side of a collision; Sta10 and Sta12 are the acceptor's)
    {State::ReleaseCollision, Event::ReleaseResponse, Action::AR9_SendCollisionReleaseRP,
     State::AwaitingCollisionReply},
    // Sta11
    {State::AwaitingCollisionReply, Event::ReleaseReplied, Action::AR3_ReleaseConfirmedClose,
     State::Idle},
};

bool IsReceivedPdu(Event event) {
  switch (event) {
    case Event::AssociateAccepted:
    case Event::AssociateRejected:
    case Event::AssociateRequested:
    case Event::DataReceived:
    case Event::ReleaseRequested:
    case Event::ReleaseReplied:
    case Event::InvalidPdu:
      return true;
    default:
      return false;
  }
}

}  // namespace

AssociationTransition NextTransition(AssociationState state, AssociationEvent event) {
  for (const Row& row : kRows) {
    if (row.state == state && row.event == event) return {row.action, row.next};
  }
  switch (state) {
    case State::Idle:
      // Nothing is connected: nothing can be sent, and nothing arrives.
      return {Action::Refuse, state};
    case State::Released:
    case State::Aborted:
      // Sta13: what still arrives is ignored, except that a new request is aborted.
      if (event == Event::AssociateRequested) return {Action::AA7_SendAbort, state};
      if (event == Event::ConnectionClosed) return {Action::AA4_ConnectionLost, state};
      if (IsReceivedPdu(event) || event == Event::AbortReceived) return {Action::AA6_Ignore, state};
      return {Action::Refuse, state};
    default:
      break;
  }
  // Sta5 to Sta11 alike: an abort either way or a lost connection ends the association, any PDU
  // that has no row is a protocol error answered with an A-ABORT, and a local request with no row
  // is refused.
  if (event == Event::AbortRequest) return {Action::AA1_SendAbort, State::Aborted};
  if (event == Event::AbortReceived) return {Action::AA3_AbortedByPeerClose, State::Aborted};
  if (event == Event::ConnectionClosed) return {Action::AA4_ConnectionLost, State::Aborted};
  if (IsReceivedPdu(event)) return {Action::AA8_UnexpectedSendAbort, State::Aborted};
  return {Action::Refuse, state};
}

const char* StateName(AssociationState state) {
  switch (state) {
    case State::Idle:
      return "idle";
    case State::AwaitingAccept:
      return "awaiting accept";
    case State::Established:
      return "established";
    case State::AwaitingReleaseReply:
      return "awaiting release reply";
    case State::ReleaseRequestedByPeer:
      return "release requested by the peer";
    case State::ReleaseCollision:
      return "release collision";
    case State::AwaitingCollisionReply:
      return "awaiting release reply after a collision";
    case State::Released:
      return "released by the peer";
    case State::Aborted:
      return "aborted";
  }
  return "unknown";
}

const char* ActionName(AssociationAction action) {
  switch (action) {
    case Action::Refuse:
      return "refused";
    case Action::AE2_SendAssociateRQ:
      return "AE-2";
    case Action::AE3_Accepted:
      return "AE-3";
    case Action::AE4_RejectedClose:
      return "AE-4";
    case Action::DT1_SendData:
      return "DT-1";
    case Action::DT2_DataIndication:
      return "DT-2";
    case Action::AR1_SendReleaseRQ:
      return "AR-1";
    case Action::AR2_ReleaseIndication:
      return "AR-2";
    case Action::AR3_ReleaseConfirmedClose:
      return "AR-3";
    case Action::AR4_SendReleaseRP:
      return "AR-4";
    case Action::AR6_DataWhileReleasing:
      return "AR-6";
    case Action::AR8_ReleaseCollision:
      return "AR-8";
    case Action::AR9_SendCollisionReleaseRP:
      return "AR-9";
    case Action::AA1_SendAbort:
      return "AA-1";
    case Action::AA3_AbortedByPeerClose:
      return "AA-3";
    case Action::AA4_ConnectionLost:
      return "AA-4";
    case Action::AA6_Ignore:
      return "AA-6";
    case Action::AA7_SendAbort:
      return "AA-7";
    case Action::AA8_UnexpectedSendAbort:
      return "AA-8";
  }
  return "unknown";
}
