#ifndef LOUDNESS_H
#define LOUDNESS_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <limits>

// How loud a layer is, measured on the audio the bank holds for it: the left
// channel, after the silence gate's cut, 16-bit at 44100 Hz.
//
// Levels are in dB against full scale. A sample level of 1.0 is 32768, and
// an RMS level is against a full-scale square wave, so a full-scale sine
// reads 0 dBFS peak and -3.01 dBFS RMS. Silence, and a layer with no samples
// at all, reads minus infinity: no floor is made up, and minus infinity sorts
// below every sound.
struct LayerLevels {
    double peakDbfs = -std::numeric_limits<double>::infinity();
    // RMS of the first kAttackFrames from the sound's onset (its first
    // sample within kOnsetBelowPeakDb of the peak), or of the rest of the
    // sound when that is shorter: the strike that decides how hard the hit
    // sounds, wherever it starts.
    double attackDbfs = -std::numeric_limits<double>::infinity();
    // EBU R128 integrated loudness, LUFS, reading the layer as one channel of
    // weight 1 (the same sound on both sides of a stereo output reads 3 LU
    // more). Only meaningful when loudnessKnown.
    double loudnessLufs = -std::numeric_limits<double>::infinity();
    // False for a sound shorter than kShortestLoudnessFrames: integrated
    // loudness needs at least one 400 ms block.
    bool loudnessKnown = false;
};

constexpr int kAttackFrames = 2205;            // 50 ms at 44100 Hz
constexpr int kShortestLoudnessFrames = 17640; // 400 ms at 44100 Hz
constexpr double kOnsetBelowPeakDb = 20;

// The levels in words for a listing or a tool tip: "peak -6.0 dBFS, attack
// -9.0 dBFS, loudness -9.0 LUFS" (the loudness only where it is known), or
// "silent".
QString LevelsText(const LayerLevels &levels);

// The levels of 16-bit little-endian mono samples at 44100 Hz, measured as
// they are (a trailing odd byte is ignored).
LayerLevels MeasureSamples(const QByteArray &mono16);

// The levels of a converted layer file (canonical 16-bit 44100 Hz PCM WAVE,
// mono or stereo) as the bank will hold it with the gate's amplitude. On
// failure `levels` is left as it was and `reason` says why in a few words
// ("no such file", "not a 16-bit 44100 Hz mono or stereo WAVE", ...).
bool MeasureLayerFile(const QString &wavePath, quint16 gate, LayerLevels *levels,
                      QString *reason = nullptr);

// The left channel of a converted layer file as 16-bit little-endian mono
// samples, before the gate's cut: what the bank holds of it, up to the
// largest layer. On failure `mono16` is left as it was and `reason` says why
// as MeasureLayerFile would.
bool ReadLayerAudio(const QString &wavePath, QByteArray *mono16, QString *reason = nullptr);

#endif
