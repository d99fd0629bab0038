#include "cardnames.h"

#include <QHash>
#include <QSet>

namespace {

int Utf8Bytes(const QString &text)
{
    return int(text.toUtf8().size());
}

int Utf8Bytes(char32_t point)
{
    return point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4;
}

// FAT and Windows refuse these in a name; a control character would also
// break the bank's own name line.
bool IsRefusedCharacter(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f
        || QStringLiteral("\"*/:<>?\\|").contains(c);
}

// Windows opens a device for these whatever follows the first dot.
bool IsDeviceName(QString part)
{
    part = part.toUpper();
    if (part == QLatin1String("CON") || part == QLatin1String("PRN")
        || part == QLatin1String("AUX") || part == QLatin1String("NUL"))
        return true;
    if (part.size() != 4 || !(part.startsWith(QLatin1String("COM")) || part.startsWith(QLatin1String("LPT"))))
        return false;
    const QChar last = part.at(3);
    return (last >= QLatin1Char('0') && last <= QLatin1Char('9')) || last == QChar(0xB9)
        || last == QChar(0xB2) || last == QChar(0xB3);
}

// Keeps the start and the end of a name, which tell kits and instruments
// apart, whole code points only.
QString ShortenedInMiddle(const QString &name, int maxBytes)
{
    if (Utf8Bytes(name) <= maxBytes)
        return name;
    const QString mark = QStringLiteral("\u2026");
    const int room = maxBytes - Utf8Bytes(mark);
    const auto points = name.toUcs4();
    const int count = int(points.size());
    int tail = count;
    int tailBytes = 0;
    while (tail > 0 && tailBytes + Utf8Bytes(char32_t(points.at(tail - 1))) <= room / 2)
        tailBytes += Utf8Bytes(char32_t(points.at(--tail)));
    int head = 0;
    int headBytes = 0;
    while (head < tail && headBytes + Utf8Bytes(char32_t(points.at(head))) <= room - tailBytes)
        headBytes += Utf8Bytes(char32_t(points.at(head++)));
    const auto *data = reinterpret_cast<const char32_t *>(points.constData());
    return QString::fromUcs4(data, head) + mark + QString::fromUcs4(data + tail, count - tail);
}

} // namespace

QString CardSafeFileName(const QString &stem, const QString &suffix)
{
    QString name = stem;
    for (QChar &c : name) {
        if (IsRefusedCharacter(c))
            c = QLatin1Char('_');
    }
    // Windows drops them, so the file would not keep its name.
    while (name.endsWith(QLatin1Char('.')) || name.endsWith(QLatin1Char(' ')))
        name.chop(1);
    if (name.isEmpty())
        name = QStringLiteral("_");
    // Spaces before the first dot do not count either ("nul .zks" is NUL).
    int partEnd = name.indexOf(QLatin1Char('.'));
    if (partEnd < 0)
        partEnd = int(name.size());
    while (partEnd > 0 && name.at(partEnd - 1) == QLatin1Char(' '))
        --partEnd;
    if (IsDeviceName(name.left(partEnd)))
        name.insert(partEnd, QLatin1Char('_'));
    // Shortening keeps the start, so a name stays clear of the device names.
    name = ShortenedInMiddle(name, kLongestCardFileName - Utf8Bytes(suffix));
    return name + suffix;
}

QStringList DistinctCardSafeFileNames(const QStringList &stems, const QString &suffix)
{
    QStringList names;
    QSet<QString> taken; // case-folded
    // The next number to try for a stem, so many equal stems stay cheap.
    QHash<QString, int> nextNumber;
    for (const QString &stem : stems) {
        QString name = CardSafeFileName(stem, suffix);
        int &number = nextNumber[stem.toCaseFolded()];
        number = qMax(number, 2);
        while (taken.contains(name.toCaseFolded()))
            name = CardSafeFileName(stem + QStringLiteral(" (%1)").arg(number++), suffix);
        taken.insert(name.toCaseFolded());
        names << name;
    }
    return names;
}
