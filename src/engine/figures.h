#ifndef FIGURES_H
#define FIGURES_H

#include <QString>
#include <QtGlobal>

// Figures as the program shows them. A figure and its unit are held
// together by a no-break space, so a message box or a tool tip never breaks
// a line between "2.0" and "KB".

// `value` to `decimals` places. A value that rounds to zero has no sign:
// never "-0.0".
QString Figure(double value, int decimals);

// "2.0 KB", with a no-break space.
QString WithUnit(const QString &figure, const char *unit);
QString WithUnit(double value, int decimals, const char *unit);

// Bytes as kilobytes of 1,000 bytes, to a tenth, with the unit.
QString Kilobytes(qint64 bytes);

// `text` with its no-break spaces as plain ones: zkstool's lines go to
// terminals and scripts, which break no lines and look for plain spaces.
QString PlainSpaces(QString text);

#endif
