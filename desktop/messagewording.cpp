// The program's messages worded in the window's language.
#include "messagewording.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QStringList>

#include "windowlanguage.h"

namespace {

QString Joined(const std::vector<UserMessage>& parts, const QString& separator) {
  QStringList words;
  for (const UserMessage& part : parts) {
    const QString text = Worded(part);
    if (!text.isEmpty()) words << text;
  }
  return words.join(separator);
}

// %1, %2 ... replaced in one pass, so that an argument's own "%1" (a file named so) stays.
QString Filled(const QString& format, const QStringList& arguments) {
  QString text;
  for (qsizetype i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '9') {
      qsizetype end = i + 1;
      qsizetype number = 0;
      while (end < format.size() && format[end].isDigit()) {
        number = number * 10 + format[end].digitValue();
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

}  // namespace

QString Worded(const UserMessage& message) {
  if (WindowSpeaksEnglish()) return QString::fromStdString(message.English());
  switch (message.Kind()) {
    case UserMessageKind::Text:
      return QString::fromStdString(message.Words());
    case UserMessageKind::Number:
      return WindowNumber(message.Value());
    case UserMessageKind::ClockTime:
      return QLocale().toString(QDateTime::fromSecsSinceEpoch(message.Value()).time(),
                                QLocale::ShortFormat);
    case UserMessageKind::Lines:
      return Joined(message.Arguments(), "\n");
    case UserMessageKind::Names:
      return Joined(message.Arguments(), ", ");
    case UserMessageKind::IndicatorParts:
      return Joined(message.Arguments(), " \u00b7 ");
    default:
      break;
  }
  const MessageWording& wording = WordingOf(message.Kind());
  const std::vector<UserMessage>& arguments = message.Arguments();
  int count = -1;
  if (wording.countArgument > 0 && static_cast<size_t>(wording.countArgument) <= arguments.size()) {
    count = static_cast<int>(arguments[static_cast<size_t>(wording.countArgument) - 1].Value());
  }
  const QString format = QCoreApplication::translate(kMessageContext, wording.text, nullptr, count);
  QStringList words;
  for (const UserMessage& argument : arguments) words << Worded(argument);
  return Filled(format, words);
}
