#ifndef LOGGING_H
#define LOGGING_H

#include <QLoggingCategory>

// The program's own debug lines: each step of a conversion, the sound
// check and the generator, and the window's choices. On by default; a user
// silences them with QT_LOGGING_RULES="quadrel.zks.debug=false".
Q_DECLARE_LOGGING_CATEGORY(lcZk)

#endif
