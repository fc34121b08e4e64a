// The messages for the user as data, and their English words.
#include "usermessage.h"

#include <ctime>
#include <iterator>
#include <ostream>
#include <utility>

#include "wording.h"

namespace {

constexpr MessageWording kWordings[] = {
    {UserMessageKind::Text, nullptr, 0, nullptr},
    {UserMessageKind::Number, nullptr, 0, nullptr},
    {UserMessageKind::ClockTime, nullptr, 0, nullptr},
    {UserMessageKind::Lines, nullptr, 0, nullptr},
    {UserMessageKind::Names, nullptr, 0, nullptr},
    //: The first names of a long list of files, then how many more files there are.
    {UserMessageKind::NamesAndMore, WORDING_COUNTED("UserMessage", "%1 and %2 more"), 2, nullptr},
    //: A file, item or object (%1) and what became of it (%2).
    {UserMessageKind::NamedCause, WORDING("UserMessage", "%1: %2"), 0, nullptr},
    //: A file (%1) and why it gave no DICOM object (%2).
    {UserMessageKind::NamedReason, WORDING("UserMessage", "%1 (%2)"), 0, nullptr},

    {UserMessageKind::PatientNameEmpty, WORDING("UserMessage", "Patient Name can't be empty"), 0,
     nullptr},
    {UserMessageKind::PatientIdEmpty, WORDING("UserMessage", "Patient ID can't be empty"), 0,
     nullptr},
    {UserMessageKind::NoFilesToSend, WORDING("UserMessage", "No files to send"), 0, nullptr},
    {UserMessageKind::TooManyFiles,
     WORDING("UserMessage", "Too many files in one batch (%1; at most %2)"), 0, nullptr},
    //: %1 is a file path, %2 a number of seconds.
    {UserMessageKind::BatchStampBusy,
     WORDING("UserMessage",
             "Cannot number the batch: another program of this user holds %1 (waited %2 s). "
             "Please try again."),
     0, nullptr},

    {UserMessageKind::SentOk, WORDING("UserMessage", "Images sent OK"), 0, nullptr},
    {UserMessageKind::SendFailed,
     WORDING("UserMessage", "ERROR Sending Images, please check Log file"), 0, nullptr},
    //: %1 of %2 files of the list; %3 names them.
    {UserMessageKind::ItemsNotSent,
     WORDING_COUNTED("UserMessage", "%1 of %2 items were not sent: %3"), 1, nullptr},
    //: %1 of %2 files of the list; %3 names them.
    {UserMessageKind::ItemsNotWritten,
     WORDING_COUNTED("UserMessage", "%1 of %2 items were not written: %3"), 1, nullptr},
    //: %1 of %2 files of the list were stored on the PACS, %3 names them, %4 stay in the list.
    {UserMessageKind::SendCancelledStored,
     WORDING_COUNTED("UserMessage",
                     "Send cancelled: %1 of %2 items were stored: %3; the other %4 stay in the "
                     "list."),
     1, nullptr},
    {UserMessageKind::SendCancelledStoredNone,
     WORDING_COUNTED("UserMessage",
                     "Send cancelled: %1 of %2 items were stored; the other %3 stay in the list."),
     1, nullptr},
    {UserMessageKind::SendCancelledQueued,
     WORDING_COUNTED("UserMessage",
                     "Send cancelled: %1 of %2 items were put in the outbox: %3; the other %4 "
                     "stay in the list."),
     1, nullptr},
    {UserMessageKind::SendCancelledQueuedNone,
     WORDING_COUNTED("UserMessage",
                     "Send cancelled: %1 of %2 items were put in the outbox; the other %3 stay in "
                     "the list."),
     1, nullptr},
    {UserMessageKind::SaveCancelledWritten,
     WORDING_COUNTED("UserMessage",
                     "Save cancelled: %1 of %2 items were written: %3; the other %4 stay in the "
                     "list."),
     1, nullptr},
    {UserMessageKind::SaveCancelledWrittenNone,
     WORDING_COUNTED("UserMessage",
                     "Save cancelled: %1 of %2 items were written; the other %3 stay in the list."),
     1, nullptr},
    //: Why a document gave no DICOM object.
    {UserMessageKind::NoText, WORDING("UserMessage", "no text"), 0, nullptr},
    //: Why a file of the list gave no DICOM object: it is no picture, document, PDF or video.
    {UserMessageKind::UnknownKind, WORDING("UserMessage", "unknown kind"), 0, nullptr},
    //: Why a file of the list was not sent: a failure (a full disk) stopped the batch before it.
    {UserMessageKind::NotReached, WORDING("UserMessage", "not reached"), 0, nullptr},
    {UserMessageKind::CannotWriteSeeLog,
     WORDING("UserMessage", "Cannot write \"%1\"; see the log for the reason"), 0, nullptr},
    //: %1 is a file, %2 the system's reason.
    {UserMessageKind::CannotWriteFile, WORDING("UserMessage", "Cannot write \"%1\": %2"), 0,
     nullptr},
    //: %1 is a folder, %2 the system's reason.
    {UserMessageKind::CannotWriteIntoFolder, WORDING("UserMessage", "Cannot write into \"%1\": %2"),
     0, nullptr},
    {UserMessageKind::ObjectsQueued,
     WORDING_COUNTED("UserMessage", "%1 objects queued in the outbox"), 1, nullptr},
    {UserMessageKind::OutboxWaiting,
     WORDING_COUNTED("UserMessage",
                     "The PACS did not answer: %1 objects wait in the outbox and will be sent when "
                     "it answers"),
     1, "The PACS did not answer: %1 object waits in the outbox and will be sent when it answers"},
    //: %2 says why they were not stored (the server's answer did not confirm them, say).
    {UserMessageKind::OutboxWaitingBecause,
     WORDING_COUNTED("UserMessage", "%1 objects wait in the outbox and will be sent again: %2"), 1,
     "%1 object waits in the outbox and will be sent again: %2"},
    {UserMessageKind::CommitmentWaiting,
     WORDING_COUNTED("UserMessage",
                     "The PACS stored %1 objects but has not committed them yet: they stay in the "
                     "outbox until it does"),
     1,
     "The PACS stored %1 object but has not committed it yet: it stays in the outbox until it "
     "does"},
    //: %2 is the reason the PACS gave, or why no report came.
    {UserMessageKind::CommitmentWaitingBecause,
     WORDING_COUNTED("UserMessage",
                     "The PACS stored %1 objects but has not committed them yet: they stay in the "
                     "outbox until it does (%2)"),
     1,
     "The PACS stored %1 object but has not committed it yet: it stays in the outbox until it "
     "does (%2)"},

    //: %1 is this program's own AE title.
    {UserMessageKind::PacsRefusedAeTitle, WORDING("UserMessage", "PACS refused the AE title %1"), 0,
     nullptr},
    //: %1 is host:port, %2 the AE title the PACS was called by.
    {UserMessageKind::PacsNotCalled, WORDING("UserMessage", "The PACS at %1 is not called %2"), 0,
     nullptr},
    {UserMessageKind::PacsBusy, WORDING("UserMessage", "The PACS at %1 is busy; try again later"),
     0, nullptr},
    {UserMessageKind::PacsRefusedConnection,
     WORDING("UserMessage", "The PACS at %1 refused the connection"), 0, nullptr},
    {UserMessageKind::PacsDidNotAnswer, WORDING("UserMessage", "The PACS at %1 did not answer"), 0,
     nullptr},
    {UserMessageKind::PacsDidNotAccept,
     WORDING("UserMessage", "The PACS at %1 did not accept the connection"), 0, nullptr},
    {UserMessageKind::PacsClosedConnection,
     WORDING("UserMessage", "The PACS at %1 closed the connection"), 0, nullptr},
    //: Why an object was not stored.
    {UserMessageKind::RequestNotSent, WORDING("UserMessage", "the request could not be sent"), 0,
     nullptr},
    //: Why an object was not stored.
    {UserMessageKind::PacsGaveNoAnswer, WORDING("UserMessage", "the PACS gave no answer"), 0,
     nullptr},

    //: The line above Send: the patient's name (%1) and ID (%2) of the chosen search result.
    {UserMessageKind::BatchFor, WORDING("UserMessage", "Batch for %1 \u00B7 ID %2"), 0, nullptr},
    //: The line above Send: name, ID and accession number of the chosen search result.
    {UserMessageKind::BatchForWithAccession,
     WORDING("UserMessage", "Batch for %1 \u00B7 ID %2 \u00B7 ACC %3"), 0, nullptr},

    //: %1 says why; %2 rows of the result grid are shown.
    {UserMessageKind::SearchStopped,
     WORDING_COUNTED("UserMessage", "Search stopped: %1; %2 entries shown"), 2,
     "Search stopped: %1; %2 entry shown"},
    //: %1 is a hexadecimal status code.
    {UserMessageKind::PacsFailureStatus,
     WORDING("UserMessage", "the PACS answered with the failure status 0x%1"), 0, nullptr},
    //: %1 is a hexadecimal status code.
    {UserMessageKind::WorklistFailureStatus,
     WORDING("UserMessage", "the worklist server answered with the failure status 0x%1"), 0,
     nullptr},
    {UserMessageKind::PacsEndedAssociation,
     WORDING("UserMessage", "the PACS ended the association"), 0, nullptr},
    {UserMessageKind::WorklistEndedAssociation,
     WORDING("UserMessage", "the worklist server ended the association"), 0, nullptr},
    {UserMessageKind::PacsClosedSearch, WORDING("UserMessage", "the PACS closed the connection"), 0,
     nullptr},
    {UserMessageKind::WorklistClosedSearch,
     WORDING("UserMessage", "the worklist server closed the connection"), 0, nullptr},
    {UserMessageKind::ServerStoppedAnswering,
     WORDING("UserMessage", "the server stopped answering"), 0, nullptr},
    {UserMessageKind::PacsStoppedPartWay,
     WORDING("UserMessage", "the PACS stopped answering part-way"), 0, nullptr},
    //: Why a search stopped: the server has more matches than a search shows.
    {UserMessageKind::MoreMatchesThanShown, WORDING("UserMessage", "more matches than shown"), 0,
     nullptr},

    //: The outbox line under the buttons: objects waiting to be sent.
    {UserMessageKind::IndicatorWaiting, WORDING_COUNTED("UserMessage", "%1 waiting"), 1, nullptr},
    //: The outbox line: objects waiting for another PACS (%2) than the one in the settings.
    {UserMessageKind::IndicatorWaitingFor, WORDING_COUNTED("UserMessage", "%1 waiting for %2"), 1,
     nullptr},
    //: The outbox line: objects stored whose storage commitment the PACS has not reported.
    {UserMessageKind::IndicatorAwaitingCommitment,
     WORDING_COUNTED("UserMessage", "%1 awaiting commitment"), 1, nullptr},
    //: The outbox line: the objects are being sent now.
    {UserMessageKind::IndicatorSending, WORDING("UserMessage", "sending"), 0, nullptr},
    //: The outbox line: %1 is the time of the next try.
    {UserMessageKind::IndicatorNextTry, WORDING("UserMessage", "next try %1"), 0, nullptr},
    //: The outbox line: objects the PACS refused.
    {UserMessageKind::IndicatorFailed, WORDING_COUNTED("UserMessage", "%1 failed"), 1, nullptr},
    //: The outbox line, for a while: objects that had waited were stored on the PACS named %2.
    {UserMessageKind::IndicatorStoredAfterWaiting,
     WORDING_COUNTED("UserMessage", "%1 waiting objects were stored on %2"), 1,
     "%1 waiting object was stored on %2"},
    {UserMessageKind::IndicatorParts, nullptr, 0, nullptr},

    //: %1 is the typed AE title, %2 the character it cannot carry.
    {UserMessageKind::AeTitleRefusedCharacter,
     WORDING("UserMessage",
             "The AE title \"%1\" holds \"%2\", which an AE title cannot carry (8-bit text only)"),
     0, nullptr},
};

// The table lists every kind in the order of the enumeration, so a kind is its own index.
constexpr bool TableInOrder() {
  for (size_t i = 0; i < std::size(kWordings); ++i) {
    if (static_cast<size_t>(kWordings[i].kind) != i) return false;
  }
  return true;
}
static_assert(TableInOrder(), "kWordings must list every UserMessageKind in order");
static_assert(std::size(kWordings) ==
                  static_cast<size_t>(UserMessageKind::AeTitleRefusedCharacter) + 1,
              "kWordings must list every UserMessageKind");

std::string JoinEnglish(const std::vector<UserMessage>& parts, const std::string& separator) {
  std::string text;
  for (const UserMessage& part : parts) {
    const std::string words = part.English();
    if (words.empty()) continue;
    if (!text.empty()) text += separator;
    text += words;
  }
  return text;
}

std::string ClockText(long long secondsSinceEpoch) {
  const std::time_t time = static_cast<std::time_t>(secondsSinceEpoch);
  std::tm local{};
  localtime_r(&time, &local);
  char text[8];
  std::strftime(text, sizeof text, "%H:%M", &local);
  return text;
}

}  // namespace

UserMessage::UserMessage(UserMessageKind kind, std::vector<UserMessage> arguments)
    : kind_(kind), arguments_(std::move(arguments)) {}

UserMessage UserMessage::Text(std::string words) {
  UserMessage message(UserMessageKind::Text);
  message.words_ = std::move(words);
  return message;
}

UserMessage UserMessage::Number(long long value) {
  UserMessage message(UserMessageKind::Number);
  message.value_ = value;
  return message;
}

UserMessage UserMessage::ClockTime(long long secondsSinceEpoch) {
  UserMessage message(UserMessageKind::ClockTime);
  message.value_ = secondsSinceEpoch;
  return message;
}

UserMessage UserMessage::Lines(std::vector<UserMessage> lines) {
  UserMessage message;
  for (UserMessage& line : lines) message.AddLine(std::move(line));
  return message;
}

void UserMessage::AddLine(UserMessage line) {
  if (line.Empty()) return;
  if (kind_ != UserMessageKind::Lines) {
    UserMessage first = std::move(*this);
    *this = UserMessage();
    arguments_.push_back(std::move(first));
  }
  if (line.kind_ == UserMessageKind::Lines) {
    for (UserMessage& part : line.arguments_) arguments_.push_back(std::move(part));
  } else {
    arguments_.push_back(std::move(line));
  }
}

bool UserMessage::Empty() const {
  switch (kind_) {
    case UserMessageKind::Text:
      return words_.empty();
    case UserMessageKind::Lines:
    case UserMessageKind::Names:
    case UserMessageKind::IndicatorParts:
      for (const UserMessage& part : arguments_) {
        if (!part.Empty()) return false;
      }
      return true;
    default:
      return false;
  }
}

std::string UserMessage::English() const {
  switch (kind_) {
    case UserMessageKind::Text:
      return words_;
    case UserMessageKind::Number:
      return std::to_string(value_);
    case UserMessageKind::ClockTime:
      return ClockText(value_);
    case UserMessageKind::Lines:
      return JoinEnglish(arguments_, "\n");
    case UserMessageKind::Names:
      return JoinEnglish(arguments_, ", ");
    case UserMessageKind::IndicatorParts:
      return JoinEnglish(arguments_, " \u00b7 ");
    default:
      break;
  }
  const MessageWording& wording = WordingOf(kind_);
  const char* format = wording.text;
  if (wording.textForOne != nullptr && wording.countArgument > 0 &&
      static_cast<size_t>(wording.countArgument) <= arguments_.size() &&
      arguments_[static_cast<size_t>(wording.countArgument) - 1].Value() == 1) {
    format = wording.textForOne;
  }
  std::vector<std::string> words;
  for (const UserMessage& argument : arguments_) words.push_back(argument.English());
  return FillPlaceholders(format, words);
}

std::ostream& operator<<(std::ostream& out, const UserMessage& message) {
  return out << message.English();
}

const MessageWording& WordingOf(UserMessageKind kind) {
  return kWordings[static_cast<size_t>(kind)];
}

std::string FillPlaceholders(const std::string& format, const std::vector<std::string>& arguments) {
  std::string text;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
      size_t end = i + 1;
      size_t number = 0;
      while (end < format.size() && format[end] >= '0' && format[end] <= '9') {
        number = number * 10 + static_cast<size_t>(format[end] - '0');
        ++end;
      }
      if (number <= arguments.size()) {
        text += arguments[number - 1];
        i = end - 1;
        continue;
      }
    }
    text += format[i];
  }
  return text;
}
