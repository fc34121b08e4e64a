// The program's messages (app/usermessage.h) worded in the window's language.
#pragma once

#include <QString>

#include "usermessage.h"

// The message as the window shows it: in English exactly as the log and velloran-cli word it;
// in another language translated kind by kind, with numbers and times as the locale writes them
// and each count choosing the language's own plural form.
QString Worded(const UserMessage& message);
