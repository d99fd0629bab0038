#ifndef CARDNAMES_H
#define CARDNAMES_H

#include <QString>
#include <QStringList>

// Names for the files zkstool writes many of at once (a bank per folder or
// per kit instrument), which must copy onto the device's FAT memory card as
// they are, and onto Windows and macOS.

// The longest file name those systems take: 255 UTF-16 units on FAT and
// NTFS, 255 bytes on most others; UTF-8 bytes never count fewer than either.
constexpr int kLongestCardFileName = 255;

// `stem` + `suffix` (".zks") as such a file name: each of "*/:<>?\| and each
// control character replaced by "_", trailing dots and spaces dropped, a
// device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, in any case, as the part
// before the first dot) given a "_", and a stem too long for 255 UTF-8
// bytes shortened in the middle, where "…" stands for what was left out.
// The suffix is kept as given.
QString CardSafeFileName(const QString &stem, const QString &suffix);

// A card-safe file name for each stem, in order, none equal to an earlier
// one without regard to case (the card, Windows and macOS take Kick.zks and
// kick.zks for one file): a later one is numbered " (2)", " (3)", ...
QStringList DistinctCardSafeFileNames(const QStringList &stems, const QString &suffix);

#endif
