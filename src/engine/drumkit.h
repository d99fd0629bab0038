#ifndef DRUMKIT_H
#define DRUMKIT_H

#include <QString>
#include <QStringList>
#include <QVector>

// A multi-velocity drum kit as its drumkit.xml describes it: instruments,
// each with sampled layers that play a range of hit strengths.

struct KitLayer {
    QString path;      // absolute; empty when the kit names no file
    double min = 0;    // the range of hit strengths it plays, 0..1
    double max = 1;
    double gain = 1;   // the layer's gain times its component's
    double pitch = 0;  // semitones; not applied
};

struct KitInstrument {
    QString name;
    double gain = 1;
    QVector<KitLayer> layers; // in file order
    QStringList problems;     // samples left out, and why
};

struct Drumkit {
    QString name;
    QString folder; // where the samples are
    QVector<KitInstrument> instruments;
};

// Reads the instruments from a drumkit.xml's text; sample paths are taken
// from `folder`. All three generations of the format: a filename in the
// instrument, layers in the instrument, layers in the first instrument
// component that has any. Namespaces and unknown elements are ignored.
// False with the reason when the text is no kit.
bool ParseDrumkitXml(const QByteArray &xml, const QString &folder, Drumkit *kit, QString *error);

// Reads a drumkit.xml, a folder holding one, or a .h2drumkit archive,
// unpacked into `workFolder` (entries that would land outside it refuse
// the whole archive). Samples that are missing or unreadable are left out
// of their instrument and listed in its problems.
bool ReadDrumkit(const QString &path, const QString &workFolder, Drumkit *kit, QString *error);

// Unpacks a gzip tar into `folder`; false with the reason, and nothing of
// it left, when it is unreadable or holds an entry that would land outside.
bool UnpackKitArchive(const QString &archive, const QString &folder, QString *error);

#endif
