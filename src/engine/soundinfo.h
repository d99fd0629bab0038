#ifndef SOUNDINFO_H
#define SOUNDINFO_H

#include <QString>
#include <QtGlobal>

#include "zkslayout.h"

// What a sound file's header says about its length, read without decoding,
// so that a sound far too long for any layer is turned away before the
// converters spend minutes and hundreds of megabytes on it.

// The smallest data size the sound check accepts, and the largest it
// accepts of the one channel the bank keeps.
constexpr qint64 kSmallestCheckedDataSize = 512;
constexpr qint64 kLargestCheckedDataSize = kLargestLayerSize - 1;

struct SoundInfo {
    qint64 frames = 0;
    int rate = 0;
    int channels = 0;
    // MPEG audio states no length: libsndfile estimates it from the first
    // frame's bit rate, which a variable-rate file can get wrong many times
    // over.
    bool lengthEstimated = false;
    // The samples are 16-bit integers, which the first converter only
    // copies.
    bool pcm16 = false;
};

// Reads the frame count, rate and channels of a regular file that
// libsndfile can open, without decoding it. False for anything else (a
// folder, a pipe, a device, a file of a format libsndfile doesn't know, a
// length it cannot state): such files are left to the conversion chain.
bool ReadSoundInfo(const QString &path, SoundInfo *info);

// The channels the converters keep: at most two.
int ConvertedChannels(const SoundInfo &info);

// The data size in bytes of the converted file: 16-bit samples at 44100 Hz,
// at most two channels.
qint64 PredictedDataSize(const SoundInfo &info);

// The data size of the one channel of the converted sound the bank keeps.
qint64 KeptDataSize(const SoundInfo &info);

// True when the kept channel would exceed the largest data size the
// sound check accepts by more than a second of sound, a margin far beyond
// what rounding in the resampler can add, so no file that would pass is
// refused. An estimated length is never judged.
bool IsFarTooLong(const SoundInfo &info);

// How long the sound lasts, and the longest sound a layer holds (one
// channel of it is kept, whatever the sound's channels), in seconds.
double SoundSeconds(const SoundInfo &info);
double LongestLayerSeconds();

#endif
