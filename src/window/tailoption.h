#ifndef TAILOPTION_H
#define TAILOPTION_H

#include <QString>
#include <QtGlobal>

#include "bankdocument.h"

// What the window's "Trim tails" option saved, for the tool tips. A layer
// saved something when it holds a trimmed copy of its untrimmed file.

// "Trimming saves 120.5 KB (1.4 s)" for layer `layer` (1 KB = 1000 bytes;
// the time is that of the bank's mono 44100 Hz sound); empty when trimming
// saved that layer nothing.
QString TrimToolTipLine(const BankDocument &bank, int layer);

// "Trimming saves 241.2 KB in all" over the bank's layers; empty when
// trimming saved nothing.
QString TrimTotalToolTip(const BankDocument &bank);

#endif
