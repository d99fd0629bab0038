#ifndef DRUMKIT_H
#define DRUMKIT_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

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

// Reads a drumkit.xml, a folder holding one, or a .h2drumkit archive. The
// drumkit.xml is read only when it is a regular file of at most
// KitArchive::kMaxDrumkitXmlBytes. Of an archive (see KitArchive), only the
// samples its drumkit.xml names are unpacked, into `workFolder`; a layer
// whose sample lies outside the archive is left out. Samples that are
// missing or unreadable are left out of their instrument and listed in its
// problems. A kit without a name takes its folder's or archive's.
// `cancelled`, when set, stops the unpacking ("interrupted").
bool ReadDrumkit(const QString &path, const QString &workFolder, Drumkit *kit, QString *error,
                 const std::atomic<bool> *cancelled = nullptr);

#endif
