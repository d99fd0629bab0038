#ifndef WAVEFORMSUMMARY_H
#define WAVEFORMSUMMARY_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// A layer's waveform drawn as its lowest and highest sample per pixel, from
// a summary made once per layer, so a strip of any width or zoom is drawn
// without going over the samples again.

// The lowest and highest sample of each block of blockFrames samples; the
// last block may be shorter.
struct WaveSummary {
    int blockFrames = 256;
    QVector<qint16> minima;
    QVector<qint16> maxima;
    qint64 frames = 0; // samples summarized
};

// The summary of 16-bit little-endian mono samples (a trailing odd byte is
// ignored). A block size below 1 counts as 1.
WaveSummary SummarizeSamples(const QByteArray &mono16, int blockFrames = 256);

// The envelope of frames firstFrame up to (not including) endFrame across
// `pixels` pixels: for each pixel the lowest and highest sample of the
// blocks its frames touch, so it is exact to the block. A pixel narrower
// than one frame shows the frame it starts at; a pixel outside the sound
// shows 0 for both, and so does every pixel of an empty range.
void EnvelopeForWidth(const WaveSummary &summary, qint64 firstFrame, qint64 endFrame, int pixels,
                      QVector<qint16> *minima, QVector<qint16> *maxima);

// How many leading samples CutLeadingSilence drops with the gate's
// amplitude: where the strip marks the start of what the bank holds.
qint64 GateCutFrames(const QByteArray &mono16, quint16 gate);

#endif
