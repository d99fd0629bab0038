#ifndef TAILTRIM_H
#define TAILTRIM_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "zkslayout.h"

// Trimming a layer's quiet tail: a decaying hit often ends in seconds of
// sound far below hearing that costs layer space all the same.

constexpr double kDefaultTailDbfs = -60.0;
// The fade that ends a trimmed sound, so it stops without a click: 10 ms.
constexpr int kTailFadeFrames = kBankRate / 100;

// The smallest sample magnitude that lies above `dbfs` (full scale being
// 32768): floor(32768 x 10^(dbfs / 20)) + 1. That is 33 at -60 dBFS, the
// gate's own amplitude for "-60dB"; 1 for very low levels (and for a level
// that is not a number), where only silence is quiet; 32769 from 0 dBFS up,
// where every sample is.
int TailLevel(double dbfs);

// 16-bit PCM of interleaved `channels`-sample frames (mono or stereo), cut
// after the last frame whose first (left) sample reaches TailLevel(dbfs): the
// left channel alone is judged, being what a bank keeps. Up to
// kTailFadeFrames frames after it stay, faded linearly in every channel to
// exactly zero in the last one kept (each sample times (F - i) / F for the
// i-th of F frames, rounded toward zero); nothing follows. A sound whose last
// frame reaches the level comes back unchanged. A sound that never reaches it
// keeps its first kTailFadeFrames frames as that fade, so a layer the sound
// check accepted is never made too short for it. Bytes after the last whole
// frame are dropped; a channel count below 1 leaves the bytes as they are.
QByteArray TrimQuietTail(const QByteArray &pcm, int channels, double dbfs = kDefaultTailDbfs);

// Writes to `trimmedPath` a canonical 16-bit WAVE (same channels and rate) of
// the converted file's sound with its quiet tail trimmed, and sets
// `savedBytes` to the layer size this saves (LayerSizeFor the converted file
// minus LayerSizeFor the trimmed one). The converted file is never changed,
// so the untrimmed sound stays at hand. Takes a canonical 16-bit PCM WAVE of
// one or two channels holding all the sound its header declares; on any
// failure returns false with a reason in `error`, sets `savedBytes` to 0 and
// leaves `trimmedPath` as it was.
// A converted file's sound: its channel count, rate and sample bytes.
struct PcmSound {
    quint16 channels = 0;
    quint32 rate = 0;
    QByteArray pcm;
};
// Reads a canonical 16-bit PCM WAVE of one or two channels whole; false with
// the reason otherwise.
bool ReadPcmSound(const QString &path, PcmSound *sound, QString *error);
// Writes one as such a WAVE, replacing `path` only once all is written.
bool WritePcmSound(const QString &path, const PcmSound &sound, QString *error);

bool TrimTailFile(const QString &convertedPath, const QString &trimmedPath, double dbfs,
                  qint64 *savedBytes, QString *error = nullptr);

#endif
