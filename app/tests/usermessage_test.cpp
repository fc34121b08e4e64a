// Messages as data: their English words, counts choosing their form, lines and names.
#include "usermessage.h"

#include <gtest/gtest.h>

namespace {

UserMessage Count(long long value) {
  return UserMessage::Number(value);
}

TEST(UserMessage, EnglishWordsFillEachPlaceholderOnceAndChooseTheFormOfTheirCount) {
  const struct {
    const char* name;
    UserMessage message;
    const char* english;
  } rows[] = {
      {"one object", UserMessage(UserMessageKind::OutboxWaiting, {Count(1)}),
       "The PACS did not answer: 1 object waits in the outbox and will be sent when it answers"},
      {"two objects", UserMessage(UserMessageKind::OutboxWaiting, {Count(2)}),
       "The PACS did not answer: 2 objects wait in the outbox and will be sent when it answers"},
      // A file named like a placeholder stays as it is named: each placeholder is filled once.
      {"a file named %2",
       UserMessage(UserMessageKind::ItemsNotSent,
                   {Count(1), Count(3),
                    UserMessage(UserMessageKind::Names, {UserMessage::Text("%2.jpg")})}),
       "1 of 3 items were not sent: %2.jpg"},
      {"a cause inside its sentence",
       UserMessage(
           UserMessageKind::SearchStopped,
           {UserMessage(UserMessageKind::WorklistFailureStatus, {UserMessage::Text("C001")}),
            Count(1)}),
       "Search stopped: the worklist server answered with the failure status 0xC001; 1 entry "
       "shown"},
      {"the first ten names and how many more",
       UserMessage(UserMessageKind::NamesAndMore,
                   {UserMessage(UserMessageKind::Names,
                                {UserMessage::Text("a.jpg"), UserMessage::Text("b.jpg")}),
                    Count(12)}),
       "a.jpg, b.jpg and 12 more"},
      // Empty lines are left out, and lines of lines read as one list of lines.
      {"lines",
       UserMessage::Lines(
           {UserMessage(UserMessageKind::SendFailed), UserMessage(),
            UserMessage::Lines({UserMessage::Text("first cause"), UserMessage::Text("")})}),
       "ERROR Sending Images, please check Log file\nfirst cause"},
      {"nothing", UserMessage::Lines({UserMessage(), UserMessage::Text("")}), ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.message.English(), row.english) << row.name;
    EXPECT_EQ(row.message.Empty(), *row.english == '\0') << row.name;
  }
}

TEST(UserMessage, AddLineMakesOneMessageOfSeveralLines) {
  UserMessage message(UserMessageKind::SendFailed);
  message.AddLine(UserMessage());
  message.AddLine(UserMessage(UserMessageKind::PacsDidNotAnswer, {UserMessage::Text("pacs:104")}));
  message.AddLine(UserMessage::Lines({UserMessage(UserMessageKind::NoFilesToSend)}));
  EXPECT_EQ(message.Kind(), UserMessageKind::Lines);
  EXPECT_EQ(message.Arguments().size(), 3u);
  EXPECT_EQ(message.English(),
            "ERROR Sending Images, please check Log file\nThe PACS at pacs:104 did not "
            "answer\nNo files to send");
}

}  // namespace
