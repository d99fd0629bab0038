#ifndef KITSOURCE_H
#define KITSOURCE_H

#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <memory>

#include "kitimport.h"

// A drum kit opened for import, whatever its format: a Hydrogen kit, an SFZ
// file or a SoundFont. Each format lists its instruments and gives their
// layer sources; naming the banks, skipping a place with nothing to play,
// summing up and preparing an instrument are the same for all, so the
// window and zkstool import-kit call only this.

// What the chooser shows of an instrument.
struct KitInstrumentSummary {
    QString name;
    int layers = 0;     // the kit's layers of it
    double seconds = 0; // how long its longest sample lasts
    QString group;      // the SoundFont preset it belongs to; empty for other kits
    QString reason;     // why it can make no bank (listed greyed); empty when it can
    int bankLayers = 0; // the layers its bank gets (PlannedBankLayers)
};

class KitSource
{
public:
    virtual ~KitSource() = default;
    KitSource(const KitSource &) = delete;
    KitSource &operator=(const KitSource &) = delete;

    const QString &Name() const { return kitName; }
    // An instrument of a Hydrogen kit, a key of an SFZ kit, a (preset, key)
    // of a SoundFont; one the kit left unnamed as "instrument N".
    const QStringList &Instruments() const { return instruments; }
    // The file name of each instrument's bank, card-safe and distinct in
    // any case.
    const QStringList &BankNames() const { return bankNames; }
    // What import-kit says of the whole kit before its instruments: what was
    // left out of it, then a SoundFont's presets and their keys.
    virtual QStringList Notes() const { return LeftOut(); }
    // What was left out of the whole kit (opcodes ignored, regions left
    // out): the window tells it with each instrument it imports.
    virtual QStringList LeftOut() const { return {}; }
    // Why the kit gives no instrument, when it gives none.
    virtual QString NoInstrumentsReason() const { return QStringLiteral("the kit has no instruments"); }

    // What each instrument gives the chooser. Reads the samples' headers
    // only: nothing is decoded or rendered.
    QVector<KitInstrumentSummary> Summaries() const;
    // True for a place in the kit that names no sample at all: no bank, and
    // not counted as skipped.
    virtual bool NamesNoSample(int /*index*/) const { return false; }
    // The layers the bank of instrument `index` gets as its ranges plan
    // them, before any sample is read.
    int PlannedBankLayers(int index) const;
    // The layer sources of instrument `index`.
    virtual InstrumentSource Source(int index) const = 0;
    // Instrument `index` prepared for its bank (PrepareInstrument), samples
    // decoded in `workFolder`. Safe to call for several instruments at once.
    PreparedInstrument Prepare(int index, const QString &workFolder, const KitImportOptions &options,
                               const std::atomic<bool> *cancelled) const;

protected:
    KitSource() = default;
    // Sets the kit's name and its instruments' names; the banks are named
    // "<kit> - <instrument>" (KitBankFileNames), or after the instrument
    // alone when `alone` (it names the kit already).
    void SetNames(const QString &name, const QStringList &instrumentNames, bool alone = false);
    // The summary of instrument `index` as its format knows it: its
    // layers, seconds and group.
    virtual KitInstrumentSummary Summary(int index) const = 0;
    // The decoder of instrument `index`'s samples: the sample files, as
    // FileDecoder decodes them, unless the format renders its own.
    virtual SampleDecoder Decoder(int index, const QString &workFolder, const KitImportOptions &options,
                                  const std::atomic<bool> *cancelled) const;

private:
    QString kitName;
    QStringList instruments;
    QStringList bankNames;
};

// True for a kit of presets to choose among (a SoundFont, by its name).
bool KitHasPresets(const QString &path);

// Opens a drumkit.xml, a folder holding one, a .h2drumkit archive (unpacked
// into `unpackFolder`), an .sfz file or a .sf2 file, by its name; none with
// why, or once `cancelled` is set. Of a SoundFont, `preset` chooses the
// presets as Sf2ChoosePresets does (empty: the drum bank's, else all); an
// instrument per key of each, named as Sf2BankName says.
std::unique_ptr<KitSource> OpenKitSource(const QString &path, const QString &unpackFolder, QString *error,
                                         const std::atomic<bool> *cancelled = nullptr,
                                         const QString &preset = QString());

#endif
