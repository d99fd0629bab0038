#ifndef INTAKE_H
#define INTAKE_H

#include <QString>

#include <functional>

#include "fileprocessor.h"
#include "refusal.h"

// The one way a chosen sound becomes a layer, for the window and zkstool
// alike: what its header tells, the conversion, the sound check and the
// layer size, with the refusal that stops it wherever that comes.

// Converts a chosen sound as ConvertFile does; tests stand in for the
// converters with one of their own.
using SoundConverter =
    std::function<QString(const QString &chosen, const ConvertOptions &options, QString *reason)>;

// What became of one chosen sound: a layer, a refusal, or nothing at all
// when the conversion was cancelled.
struct IntakeVerdict {
    QString chosen;         // as given
    bool cancelled = false; // by the user, a signal or closing the window
    LayerFile layer;        // the converted file, its name and layer size; empty unless taken
    Refusal refusal;        // why not, about `chosen` as given

    bool IsLayer() const { return !cancelled && refusal.IsEmpty(); }
};

// What the sound's own header tells before anything is converted: a sound
// far too long for any layer is refused at once, sparing the converters
// seconds and megabytes. An empty refusal otherwise (a file libsndfile
// can't open is left to the conversion, whose verdict counts).
Refusal RefusalFromHeader(const QString &chosen);

// Takes `chosen` in as a layer: refused from its header, or converted with
// `convert` (ConvertFile when empty) as `options` say and checked as
// OpenAndCheckFile checks. A refused or cancelled sound leaves no converted
// file behind.
IntakeVerdict TakeInSound(const QString &chosen, const ConvertOptions &options,
                          const SoundConverter &convert = SoundConverter());

// The verdict TakeInSound would give, known from the header alone for a
// file that converting would only copy (see CheckWithoutConverting); the
// layer is then `chosen` itself. False when only converting tells.
bool TakeInWithoutConverting(const QString &chosen, IntakeVerdict *verdict);

#endif
