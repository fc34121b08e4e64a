// What the program tells the user, as data: the kind of message and its arguments. The window
// words a message in the user's language (desktop/messagewording.h); English() words it for the
// log, velloran-cli and the English window, exactly as the program has always worded it.
//
// A new message: add its kind to UserMessageKind and its English text, with %1, %2 ... for the
// arguments, to the table in usermessage.cpp; then run scripts/update-translations.sh and
// translate it (desktop/README.md).
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

enum class UserMessageKind {
  // The building blocks.
  Text,          // words from elsewhere, shown as they are: a file name, a server's own answer
  Number,        // a count, written as the user's language writes numbers
  ClockTime,     // a time of day (seconds since the epoch), written as the user's clock shows it
  Lines,         // the arguments, one a line
  Names,         // the arguments, listed with commas
  NamesAndMore,  // "%1 and %2 more": the first names of a long list and how many follow
  NamedCause,    // "%1: %2": an item, object or file and what became of it
  NamedReason,   // "%1 (%2)": an item and why it gave no object

  // Preparing a batch.
  PatientNameEmpty,
  PatientIdEmpty,
  NoFilesToSend,
  TooManyFiles,
  BatchStampBusy,

  // How a batch ended.
  SentOk,
  SendFailed,
  ItemsNotSent,
  ItemsNotWritten,
  SendCancelledStored,
  SendCancelledStoredNone,
  SendCancelledQueued,
  SendCancelledQueuedNone,
  SaveCancelledWritten,
  SaveCancelledWrittenNone,
  NoText,
  UnknownKind,
  NotReached,
  CannotWriteSeeLog,
  CannotWriteFile,
  CannotWriteIntoFolder,
  ObjectsQueued,
  OutboxWaiting,
  OutboxWaitingBecause,
  CommitmentWaiting,
  CommitmentWaitingBecause,

  // Why the PACS did not take a batch.
  PacsRefusedAeTitle,
  PacsNotCalled,
  PacsBusy,
  PacsRefusedConnection,
  PacsDidNotAnswer,
  PacsDidNotAccept,
  PacsClosedConnection,
  RequestNotSent,
  PacsGaveNoAnswer,

  // The line above Send naming the chosen search result's patient.
  BatchFor,
  BatchForWithAccession,

  // Searches.
  SearchStopped,
  PacsFailureStatus,
  WorklistFailureStatus,
  PacsEndedAssociation,
  WorklistEndedAssociation,
  PacsClosedSearch,
  WorklistClosedSearch,
  ServerStoppedAnswering,
  PacsStoppedPartWay,
  MoreMatchesThanShown,

  // The outbox indicator.
  IndicatorWaiting,
  IndicatorWaitingFor,
  IndicatorAwaitingCommitment,
  IndicatorSending,
  IndicatorNextTry,
  IndicatorFailed,
  IndicatorStoredAfterWaiting,
  IndicatorParts,

  // Settings.
  AeTitleRefusedCharacter,
};

class UserMessage {
 public:
  // Nothing to tell.
  UserMessage() = default;
  UserMessage(UserMessageKind kind, std::vector<UserMessage> arguments = {});

  static UserMessage Text(std::string words);
  static UserMessage Number(long long value);
  static UserMessage ClockTime(long long secondsSinceEpoch);
  // The lines that are not empty, one a line.
  static UserMessage Lines(std::vector<UserMessage> lines);

  // Adds a line below (an empty one is left out).
  void AddLine(UserMessage line);

  // True when there is nothing to tell.
  bool Empty() const;
  UserMessageKind Kind() const { return kind_; }
  const std::string& Words() const { return words_; }
  long long Value() const { return value_; }
  const std::vector<UserMessage>& Arguments() const { return arguments_; }

  // The message in English, for the log, the command line and the English window.
  std::string English() const;

  bool operator==(const UserMessage& other) const = default;

 private:
  UserMessageKind kind_ = UserMessageKind::Lines;
  std::string words_;
  long long value_ = 0;
  std::vector<UserMessage> arguments_;
};

// Writes the English words (test failures, log lines).
std::ostream& operator<<(std::ostream& out, const UserMessage& message);

// How a kind is worded in English: its text with %1, %2 ... for the arguments, and, for a kind
// that counts something, which argument is the count (from 1; 0 when none) and its text when the
// count is 1 (null when it reads the same). The window translates `text` (with the count, so
// each language chooses its own plural forms); the building blocks have no text.
struct MessageWording {
  UserMessageKind kind;
  const char* text;
  int countArgument;
  const char* textForOne;
};
const MessageWording& WordingOf(UserMessageKind kind);

// The translation context of the texts above.
inline constexpr const char* kMessageContext = "UserMessage";

// `format` with each %1, %2 ... replaced by the argument of that number (a placeholder without
// an argument stays as it is), in one pass, so an argument's own "%1" is never replaced again.
std::string FillPlaceholders(const std::string& format, const std::vector<std::string>& arguments);
