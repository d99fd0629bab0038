#ifndef REFUSAL_H
#define REFUSAL_H

#include <QString>

// One refusal as it travels from the rule that made it to the user: the
// result code whose message it shows (or words of its own), what it is
// about, and the numbers or reason behind it: the parts the window's message
// box shows as its text and detail, and zkstool's error line joins.
struct Refusal {
    int code = 0;    // a result code (resultcodes.h), unless `words` say it
    QString subject; // the file, bank or folder, as the user named it; may be empty
    QString detail;  // may be empty
    QString words;   // the text when there is no code for it

    // No refusal at all.
    bool IsEmpty() const { return code == 0 && words.isEmpty() && subject.isEmpty(); }
    // The result code's message, or the refusal's own words.
    QString Text() const;
    // "TEXT (DETAIL)", or the text alone without a detail.
    QString Reason() const;
    // "SUBJECT: TEXT (DETAIL)", every part printable (see Printable) and
    // the figures' spaces plain: the line zkstool prints after "zkstool: ".
    QString Line() const;
};

// A refusal under a result code's message.
Refusal RefusalFor(int code, const QString &subject, const QString &detail = QString());
// A refusal in words of its own.
Refusal RefusalSaying(const QString &subject, const QString &words,
                      const QString &detail = QString());

// `text` with its control and format characters shown as \uXXXX escapes,
// so names from a bank, a folder or a manifest cannot steer the terminal.
QString Printable(const QString &text);

#endif
