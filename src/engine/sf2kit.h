#ifndef SF2KIT_H
#define SF2KIT_H

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <array>

// A SoundFont 2 file (RIFF 'sfbk') as far as a threshold-layered bank can
// use it: its presets, the keys each one plays, and for a key the zones that
// sound at each velocity, with the pitch and gain the file gives them. The
// INFO, sdta (smpl, sm24) and pdta lists are read here; every size, count
// and index in them is checked before anything is read through it. Loops,
// envelopes, filters, modulators and the like are counted as ignored, for
// the report. Sample data is read only when a zone is rendered.

// Files larger than this are refused unread.
constexpr qint64 kMaxSf2FileBytes = qint64(1) << 30;

// Generators a zone may hold, by the format's numbering (0..60).
constexpr int kSf2Generators = 61;

// One zone as stored: the generators it sets, and the instrument (preset
// zone) or sample (instrument zone) it names, -1 for a global zone.
struct Sf2StoredZone {
    std::array<qint16, kSf2Generators> amount{};
    quint64 set = 0; // bit n: generator n is set
    int target = -1;

    bool Has(int generator) const { return (set >> generator) & 1; }
};

// A preset or an instrument: its zones and its global zone's defaults.
struct Sf2Part {
    QString name;
    Sf2StoredZone global;
    QVector<Sf2StoredZone> zones;
};

struct Sf2Preset {
    QString name;
    int bank = 0;
    int program = 0;
    Sf2Part part;
};

// Sample types, as flags.
enum Sf2SampleType {
    kSf2Mono = 1,
    kSf2Right = 2,
    kSf2Left = 4,
    kSf2Linked = 8,
    kSf2Compressed = 0x10, // the SF3 variant's Ogg Vorbis data
    kSf2Rom = 0x8000,
};

struct Sf2Sample {
    QString name;
    qint64 start = 0; // frames of the sample data: [start, end)
    qint64 end = 0;
    qint64 loopStart = 0;
    qint64 loopEnd = 0;
    int rate = 0;
    int originalPitch = 60; // the key the sample sounds at unshifted
    int correction = 0;     // cents
    int link = 0;           // the other half of a stereo pair
    int type = kSf2Mono;
};

struct Sf2Kit {
    QString path;        // the file read; empty when read from memory
    QByteArray bytes;    // the whole file when read from memory
    QString name;        // INAM, else the file's name
    qint64 smplOffset = 0; // where the 16-bit sample data starts in the file
    qint64 frames = 0;     // sample data points it holds
    qint64 sm24Offset = -1; // where the low bytes of 24-bit data start; -1: none
    QVector<Sf2Preset> presets;
    QVector<Sf2Part> instruments;
    QVector<Sf2Sample> samples;
    QStringList notes;          // what was left out while reading, and why
    QMap<QString, int> ignored; // what is not applied, with how often it appears
};

// Reads the SoundFont at `path` (a regular file of at most kMaxSf2FileBytes).
// False, with `error` one line saying what is wrong, when the file can't be
// read or is broken; a zone that alone is broken is left out with a note.
bool ReadSf2Kit(const QString &path, Sf2Kit *kit, QString *error);

// As ReadSf2Kit, from the file's bytes (fuzzing and tests).
bool ParseSf2Data(const QByteArray &bytes, Sf2Kit *kit, QString *error);

// "ignored: envelopes ×12, modulators ×40"; empty when nothing was.
QString Sf2IgnoredLine(const Sf2Kit &kit);

// "Standard (128:0)": a preset's name, bank and program.
QString Sf2PresetLabel(const Sf2Preset &preset);

// The presets `choice` names: a preset's name (any case) or BANK:PROGRAM.
// An empty choice gives every preset of bank 128, the General MIDI drum
// bank, when the file has one, else every preset. False with `error` when
// nothing matches. In the file's order.
bool Sf2ChoosePresets(const Sf2Kit &kit, const QString &choice, QVector<int> *presets,
                      QString *error);

// One preset zone joined with one instrument zone it plays: the ranges and
// values a hit in them sounds with, generators combined as the format
// defines (the instrument's absolute, the preset's added, ranges intersected,
// global zones as defaults).
struct Sf2Region {
    int loKey = 0;
    int hiKey = 127;
    int loVel = 0;
    int hiVel = 127;
    int sample = 0;
    qint64 start = 0; // frames of the sample data, address offsets applied
    qint64 end = 0;
    int rootKey = 60;
    double scaleTuning = 100; // cents per key
    double tuneCents = 0;     // coarse and fine tune with the sample's correction
    double attenuation = 0;   // centibels
};

// The regions of preset `preset`; false with `error` when it has more than
// can be read. A zone that names a missing instrument or sample, a ROM
// sample or offsets outside its sample is left out with a note.
bool Sf2PresetRegions(const Sf2Kit &kit, int preset, QVector<Sf2Region> *regions,
                      QStringList *notes, QString *error);

// The keys the regions play, ascending.
QVector<int> Sf2Keys(const QVector<Sf2Region> &regions);

enum class Sf2Channel { Mono, Left, Right };

// One zone as a key plays it.
struct Sf2Zone {
    int sample = 0;
    QString sampleName;
    qint64 start = 0; // frames of the sample data: [start, end)
    qint64 end = 0;
    int rate = 0;
    Sf2Channel channel = Sf2Channel::Mono;
    bool paired = false;   // the other half of its stereo pair sounds beside it
    double pitchRatio = 1; // playback speed: 0.5 an octave down
    double gain = 1;
};

// The zones a key sounds at its velocities from `threshold` up.
struct Sf2Layer {
    int threshold = 1;
    QVector<Sf2Zone> zones;
};

// The zones playing more than this on one key leave the key out.
constexpr int kMaxSf2ZonesPerKey = 256;

// The layers of `key`, loudest first: velocities 1..127 that sound the same
// zones form one layer, whose threshold is the lowest of them; the last
// one's is 1. False with `error` when more zones play the key than can be
// read.
bool Sf2KeyLayers(const Sf2Kit &kit, const QVector<Sf2Region> &regions, int key,
                  QVector<Sf2Layer> *layers, QString *error);

// The General MIDI percussion name of keys 35..81 ("Bass Drum 1"); empty
// for any other key.
QString Sf2DrumName(int key);

// "Standard - 36 Bass Drum 1" for a General MIDI drum key,
// "Standard - c2 (36)" for any other.
QString Sf2BankName(const QString &preset, int key);

// The zone's sound as a hit plays it: its frames at the zone's pitch,
// resampled to the bank's rate, times its gain, as mono samples at full
// scale 32768. A zone longer than a layer can hold is cut to that length.
bool RenderSf2Zone(const Sf2Kit &kit, const Sf2Zone &zone, QVector<double> *samples,
                   QString *error);

// A layer's zones rendered and summed: the two halves of a stereo pair
// mixed as (L+R)/2, or the left one alone when `leftOnly`. A zone that can't
// be rendered is left out with a note; false when none could be.
bool RenderSf2Layer(const Sf2Kit &kit, const Sf2Layer &layer, bool leftOnly,
                    QVector<double> *samples, QStringList *notes);

#endif
