#include "figures.h"

#include <algorithm>

namespace {

const QChar kNoBreakSpace(0x00A0);

} // namespace

QString Figure(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    // "-0.0" would show the sign of a value too small to show.
    const bool zero = std::none_of(text.cbegin(), text.cend(),
                                   [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); });
    if (zero && text.startsWith(QLatin1Char('-')))
        text.remove(0, 1);
    return text;
}

QString WithUnit(const QString &figure, const char *unit)
{
    return figure + kNoBreakSpace + QLatin1String(unit);
}

QString WithUnit(double value, int decimals, const char *unit)
{
    return WithUnit(Figure(value, decimals), unit);
}

QString Kilobytes(qint64 bytes)
{
    return WithUnit(double(bytes) / 1000, 1, "KB");
}

QString PlainSpaces(QString text)
{
    return text.replace(kNoBreakSpace, QLatin1Char(' '));
}
