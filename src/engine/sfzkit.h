#ifndef SFZKIT_H
#define SFZKIT_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

// An SFZ drum kit as far as a threshold-layered bank can use it: the regions
// that a key's hits play, by velocity. SFZ is plain text mapping keys to
// samples; this reads the part of it that drum kits use:
//   headers <control> <global> <master> <group> <region>, each level's
//   opcodes inherited by the levels below it; comments // and /* */;
//   #define $NAME value and #include "file"; values holding spaces (a value
//   runs to the next opcode or header); backslashes in paths read as "/".
// A region's opcodes apply from the outermost header inward and, at one
// level, in the order written, so a region's lokey after a group's key wins
// and a group's key after a master's range wins.
// Every other opcode is counted as ignored, so the report can say so.
// A kit is downloaded content: its text with includes and #define
// expansions is bounded, and every file is opened without waiting.

struct SfzRegion {
    QString sample;      // the sample's path, resolved against the kit's folder
    int loKey = 0;       // 0..127, middle C (c4) = 60
    int hiKey = 127;
    int loVel = 1;       // 1..127
    int hiVel = 127;
    int seqPosition = 1; // round robins: the first is kept
    double loRand = 0;   // random picks: the lowest is kept
    bool attack = true;  // trigger=attack (the default); release and others are left out
    double volumeDb = 0;
    double amplitude = 100; // per cent
    qint64 offset = 0;      // first frame played, at most 2^40
    qint64 end = -1;        // last frame played, at most 2^40; -1: the sample's end
    int pitchKeyCenter = 60; // the key the sample sounds at its own pitch; banks play it unpitched
    int line = 0;           // where the region starts, for reports
    QString file;           // ... and in which file (an #include's, maybe)

    // The linear gain of volume and amplitude together.
    double Gain() const;
};

// The regions that play exactly the keys loKey..hiKey, as indices into
// SfzKit::regions in the file's order.
struct SfzKeyRange {
    int loKey = 0;
    int hiKey = 127;
    QVector<int> regions;
};

struct SfzKit {
    QString path; // the .sfz file read
    QString name; // its file name without extension
    QVector<SfzRegion> regions; // each plays at least one key and velocity
    // A name for a key where the file gives one (label_keyN, key names).
    QMap<int, QString> keyNames;
    // Opcodes outside what is read, with how often each appeared.
    QMap<QString, int> ignored;
    int releaseRegions = 0; // regions with a trigger other than attack
    int unplayedRegions = 0; // attack regions left out: their ranges hold no key or no velocity
    // The regions grouped by the keys they play, made once by the reader so
    // that a key's regions are found without going through all of them
    // (a kit may hold 100,000 regions). Left empty, as in a kit put together
    // otherwise or whose regions were changed, the regions are grouped on
    // each call.
    QVector<SfzKeyRange> keyRanges;
};

// Reads the SFZ file at `path`. False, with `error` saying why, when the
// file can't be read (not a regular file, a FIFO say), an #include can't be
// followed (a loop, a chain too deep, a file outside the kit's folder, a
// missing file), the text grows beyond 16 MiB with its includes and #define
// expansions, the regions play keys more than 4,000,000 times in all, or
// `cancelled` is set meanwhile ("cancelled"); a refused kit keeps only its
// path and name. A region that names no sample is left out.
bool ReadSfzKit(const QString &path, SfzKit *kit, QString *error,
                const std::atomic<bool> *cancelled = nullptr);

// As ReadSfzKit, from text already read, with includes resolved against
// `folder` (fuzzing and tests).
bool ParseSfzText(const QByteArray &text, const QString &folder, SfzKit *kit, QString *error,
                  const std::atomic<bool> *cancelled = nullptr);

// A key number from "36" or a note name ("c#2", "Eb3", "c-1"); -1 when
// `text` is neither or lies outside 0..127.
int SfzKeyNumber(const QString &text);

// "c2 (36)": the key's note name and number, as banks are named when the
// file gives the key no name of its own.
QString SfzNoteName(int key);

// What a key is called: its label where the file gives one, else
// SfzNoteName's "c2 (36)".
QString SfzKeyName(const SfzKit &kit, int key);

// "ignored: amp_veltrack ×12, pitch_keycenter ×40"; empty when nothing was.
// Any kit format's counts of what it does not apply read the same.
QString IgnoredLine(const QMap<QString, int> &ignored);
QString SfzIgnoredLine(const SfzKit &kit);

// One velocity band of a key: the lowest velocity that plays it and the
// regions that sound together there (close and overhead microphones, say).
struct SfzBand {
    int threshold = 1;
    QVector<SfzRegion> regions;
};

// The keys a hit on which plays some attack region, in ascending order:
// exactly those SfzKeyBands gives bands for.
QVector<int> SfzKeys(const SfzKit &kit);

// The bands of `key`, softest first. A hit of velocity v plays every kept
// region whose range holds v; velocities that play the same regions form one
// band. Of regions over the same velocities only the first round robin (the
// lowest seq_position) is kept, and of those the lowest lorand among random
// picks; `leftOut` counts the regions so dropped.
QVector<SfzBand> SfzKeyBands(const SfzKit &kit, int key, int *leftOut);

#endif
