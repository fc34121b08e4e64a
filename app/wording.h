// Marks English texts of the layers below the window that the window shows translated.
#pragma once

// lupdate reads the texts so marked into the window's translations (the update script and the
// build tell it that these two stand for Qt's QT_TRANSLATE_NOOP and, for a text with a count,
// QT_TRANSLATE_N_NOOP); here they are the English texts themselves. The window translates them
// in `context` (QCoreApplication::translate).
#define WORDING(context, text) text
#define WORDING_COUNTED(context, text) text
