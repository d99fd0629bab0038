#ifndef RESULTCODES_H
#define RESULTCODES_H

#include <QString>

// Verdicts of the sound check and the window's add routine. A positive value
// returned where one of these may appear is a layer size in bytes.
enum ResultCode : int {
    RESULT_NO_FILE = -1,
    RESULT_OPEN_FAILED = -2,
    RESULT_INCOMPATIBLE = -3,
    RESULT_FILE_ERROR = -4,
    RESULT_TOO_BIG = -5,
    RESULT_NAME_TOO_LONG = -6,
    RESULT_NO_SPACE = -7,
    RESULT_CLEAR_COMPLETE = -8,
    RESULT_UPLOAD_BROKEN = -9,
    RESULT_UPLOAD_COMPLETE = -10,
};

// What the user is told about a result code: the window shows it in a
// message box, zkstool prints it. `warning` selects the warning icon instead
// of the critical one.
struct ResultMessage {
    QString title;
    QString text;
    bool warning = false;
};

// Codes -1..-10 have their own message; any other value reads "Unknown Error".
ResultMessage MessageFor(int code);

#endif
