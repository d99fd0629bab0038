#include "resultcodes.h"

ResultMessage MessageFor(int code)
{
    // Spelling kept as users already know it: scripts match these words.
    static const struct {
        const char *title;
        const char *text;
        bool warning;
    } messages[10] = {
        {"WARNING", "No File Choosen", false},
        {"ERROR", "File Error", false},
        {"ERROR", "Incomatible file format", false},
        {"ERROR", "File Error", false},
        {"ERROR", "File too big!", false},
        {"ERROR", "Filename is toooo long!", false},
        {"ERROR", "Not enough space!", false},
        {"MESSAGE", "Clear Complete!", true},
        {"ERROR", "Upload has been broken!", false},
        {"MESSAGE", "Upload Complete!", true},
    };
    if (code > RESULT_NO_FILE || code < RESULT_UPLOAD_COMPLETE)
        return {QStringLiteral("ERROR"), QStringLiteral("Unknown Error"), false};
    const auto &m = messages[-code - 1];
    return {QString::fromLatin1(m.title), QString::fromLatin1(m.text), m.warning};
}
