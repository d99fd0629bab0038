#include "sf2kit.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "regularfile.h"
#include "sfzkit.h"
#include "soundconvert.h"
#include "zkslayout.h"

namespace {

// The preset data of real files is a few hundred kilobytes at most.
constexpr qint64 kMaxPresetDataBytes = qint64(64) << 20;
// Preset zones joined with instrument zones, for one preset.
constexpr int kMaxPresetRegions = 16384;
// Zones name instruments and samples in 16 bits: more can't be played.
constexpr int kMaxRecords = 65535;
// Real files hold a dozen chunks in a list; a file of tiny chunks would
// otherwise take long to walk.
constexpr int kMaxChunks = 256;
// The longest a zone is rendered: what the largest layer holds.
constexpr qint64 kMaxRenderedFrames = kLargestLayerSize / 2;

// Generators by the format's numbers.
enum Generator {
    kStartOffset = 0,
    kEndOffset = 1,
    kStartCoarseOffset = 4,
    kEndCoarseOffset = 12,
    kInstrument = 41,
    kKeyRange = 43,
    kVelRange = 44,
    kAttenuation = 48,
    kCoarseTune = 51,
    kFineTune = 52,
    kSampleId = 53,
    kScaleTuning = 56,
    kRootKey = 58,
};

bool Fail(QString *error, const QString &reason)
{
    *error = reason;
    return false;
}

// Where the file's bytes come from: the open file, or bytes in memory.
struct Input {
    QFile *file = nullptr;
    const QByteArray *bytes = nullptr;
    qint64 size = 0;

    bool Read(qint64 offset, qint64 length, QByteArray *out) const
    {
        if (offset < 0 || length < 0 || offset > size || length > size - offset)
            return false;
        if (bytes) {
            *out = bytes->mid(int(offset), int(length));
            return true;
        }
        if (!file->seek(offset))
            return false;
        *out = file->read(length);
        return out->size() == length;
    }
};

struct Chunk {
    QByteArray id;
    qint64 offset = 0; // of its data
    qint64 size = 0;
};

QByteArray ChunkName(const QByteArray &id)
{
    QByteArray printable = id;
    for (char &c : printable) {
        if (c < 0x20 || c > 0x7E)
            c = '?';
    }
    return printable;
}

// The chunks lying in [from, to), each checked to end within it.
bool ReadChunks(const Input &input, qint64 from, qint64 to, const QString &where,
                QVector<Chunk> *chunks, QString *error)
{
    while (to - from >= 8) {
        QByteArray header;
        if (!input.Read(from, 8, &header))
            return Fail(error, QStringLiteral("the file can't be read"));
        const Chunk chunk{header.left(4), from + 8, qint64(ReadLE(header, 4, 4))};
        if (chunk.size > to - chunk.offset) {
            return Fail(error, QStringLiteral("the %1 chunk runs past the end of %2: the file is cut short or broken")
                                   .arg(QString::fromLatin1(ChunkName(chunk.id)), where));
        }
        if (chunks->size() == kMaxChunks)
            return Fail(error, QStringLiteral("%1 holds more than %2 chunks").arg(where).arg(kMaxChunks));
        *chunks << chunk;
        // Chunks start on even offsets.
        from = chunk.offset + chunk.size + (chunk.size & 1);
    }
    return true;
}

const Chunk *FindChunk(const QVector<Chunk> &chunks, const char *id)
{
    for (const Chunk &chunk : chunks) {
        if (chunk.id == id)
            return &chunk;
    }
    return nullptr;
}

// The chunks of the LIST of type `type` among `chunks`.
bool ReadList(const Input &input, const QVector<Chunk> &chunks, const char *type,
              const Chunk **list, QVector<Chunk> *inside, QString *error)
{
    for (const Chunk &chunk : chunks) {
        QByteArray listType;
        if (chunk.id != "LIST" || chunk.size < 4 || !input.Read(chunk.offset, 4, &listType)
            || listType != type)
            continue;
        *list = &chunk;
        return ReadChunks(input, chunk.offset + 4, chunk.offset + chunk.size,
                          QStringLiteral("the %1 list").arg(QLatin1String(type)), inside, error);
    }
    return Fail(error, QStringLiteral("not a SoundFont: it has no %1 list").arg(QLatin1String(type)));
}

// A name field (20 bytes in records): up to its first NUL, without surrounding spaces.
QString Name(const QByteArray &record, int offset = 0, int length = 20)
{
    const QByteArray field = record.mid(offset, length);
    const int end = field.indexOf('\0');
    return QString::fromLatin1(end < 0 ? field : field.left(end)).trimmed();
}

qint16 Signed16(const QByteArray &bytes, int offset)
{
    return qint16(quint16(ReadLE(bytes, offset, 2)));
}

// What a generator not applied here is counted as; empty for those applied.
QString IgnoredCategory(int generator, bool presetLevel)
{
    switch (generator) {
    case kStartOffset:
    case kEndOffset:
    case kStartCoarseOffset:
    case kEndCoarseOffset:
    case kRootKey:
        return presetLevel ? QStringLiteral("sample settings in presets") : QString();
    case kInstrument:
    case kSampleId:
    case kKeyRange:
    case kVelRange:
    case kAttenuation:
    case kCoarseTune:
    case kFineTune:
    case kScaleTuning:
        return QString();
    case 2: case 3: case 45: case 50: case 54:
        return QStringLiteral("loops");
    case 5: case 6: case 13: case 21: case 22: case 23: case 24:
        return QStringLiteral("LFOs");
    case 7: case 25: case 26: case 27: case 28: case 29: case 30: case 31: case 32:
        return QStringLiteral("modulation envelopes");
    case 33: case 34: case 35: case 36: case 37: case 38: case 39: case 40:
        return QStringLiteral("volume envelopes");
    case 8: case 9: case 10: case 11:
        return QStringLiteral("filters");
    case 15: case 16:
        return QStringLiteral("chorus and reverb");
    case 17:
        return QStringLiteral("pan");
    case 46: case 47:
        return QStringLiteral("fixed key and velocity");
    case 57:
        return QStringLiteral("exclusive classes");
    default:
        return QStringLiteral("unknown generators");
    }
}

// The pdta's records for one level: presets (phdr, pbag, pmod, pgen) or
// instruments (inst, ibag, imod, igen).
struct Level {
    const char *what;      // "preset" or "instrument"
    const char *ids[4];    // its chunks' names
    int headerSize;        // bytes of one header record
    int bagIndexOffset;    // where a header holds its first zone's index
    int terminal;          // the generator ending a zone: instrument or sampleID
    int targets;           // how many instruments or samples that may name
};

// Reads one level's headers and zones into `parts` (with each header record
// at `headers`), checking every index against the records there are. A zone
// naming a missing instrument or sample is left out with a note.
bool ReadLevel(const Level &level, const QByteArray (&data)[4], QVector<Sf2Part> *parts,
               QVector<QByteArray> *headers, Sf2Kit *kit, QString *error)
{
    const QByteArray &head = data[0], &bags = data[1], &mods = data[2], &gens = data[3];
    const int sizes[4] = {level.headerSize, 4, 10, 4};
    for (int i = 0; i < 4; ++i) {
        if (data[i].size() % sizes[i] != 0) {
            return Fail(error, QStringLiteral("the %1 chunk's size (%2) is not a whole number of %3-byte records")
                                   .arg(QLatin1String(level.ids[i])).arg(data[i].size()).arg(sizes[i]));
        }
    }
    const int count = head.size() / level.headerSize;
    const int bagCount = bags.size() / 4;
    const int modCount = mods.size() / 10;
    const int genCount = gens.size() / 4;
    if (count < 1 || bagCount < 1)
        return Fail(error, QStringLiteral("the %1 list has no closing record").arg(QLatin1String(level.what)));
    if (count - 1 > kMaxRecords)
        return Fail(error, QStringLiteral("more than %1 %2s").arg(kMaxRecords).arg(QLatin1String(level.what)));
    const auto bagOf = [&](int header) {
        return int(ReadLE(head, header * level.headerSize + level.bagIndexOffset, 2));
    };
    const bool presetLevel = level.terminal == kInstrument;
    for (int h = 0; h + 1 < count; ++h) {
        const QByteArray record = head.mid(h * level.headerSize, level.headerSize);
        Sf2Part part;
        part.name = Name(record);
        const QString label = QStringLiteral("%1 %2 (%3)").arg(QLatin1String(level.what)).arg(h).arg(part.name);
        const int firstBag = bagOf(h);
        const int endBag = bagOf(h + 1);
        if (firstBag > endBag)
            return Fail(error, QStringLiteral("%1: its zones run backwards").arg(label));
        if (endBag > bagCount - 1)
            return Fail(error, QStringLiteral("%1: its zones go past the zone list").arg(label));
        for (int b = firstBag; b < endBag; ++b) {
            const int firstGen = int(ReadLE(bags, 4 * b, 2));
            const int endGen = int(ReadLE(bags, 4 * (b + 1), 2));
            const int firstMod = int(ReadLE(bags, 4 * b + 2, 2));
            const int endMod = int(ReadLE(bags, 4 * (b + 1) + 2, 2));
            if (firstGen > endGen || firstMod > endMod)
                return Fail(error, QStringLiteral("%1: a zone's generators or modulators run backwards").arg(label));
            if (endGen > genCount)
                return Fail(error, QStringLiteral("%1: a zone's generators go past the generator list").arg(label));
            if (endMod > modCount)
                return Fail(error, QStringLiteral("%1: a zone's modulators go past the modulator list").arg(label));
            if (endMod > firstMod)
                kit->ignored[QStringLiteral("modulators")] += endMod - firstMod;
            Sf2StoredZone zone;
            for (int g = firstGen; g < endGen; ++g) {
                const int oper = int(ReadLE(gens, 4 * g, 2));
                const qint16 amount = Signed16(gens, 4 * g + 2);
                if (oper == level.terminal) {
                    // Whatever follows the zone's instrument or sample is not part of it.
                    zone.target = quint16(amount);
                    break;
                }
                const QString ignored = IgnoredCategory(oper, presetLevel);
                if (!ignored.isEmpty())
                    ++kit->ignored[ignored];
                if (oper < kSf2Generators) {
                    zone.amount[oper] = amount; // a repeated generator: the last one counts
                    zone.set |= quint64(1) << oper;
                }
            }
            if (zone.target < 0) {
                // Only a part's first zone may be global; any other without
                // an instrument or sample plays nothing.
                if (b == firstBag)
                    part.global = zone;
                else
                    kit->notes << QStringLiteral("%1: a zone names no %2, left out")
                                      .arg(label, QLatin1String(presetLevel ? "instrument" : "sample"));
                continue;
            }
            if (zone.target >= level.targets) {
                kit->notes << QStringLiteral("%1: a zone names %2 %3, which the file does not hold; left out")
                                  .arg(label, QLatin1String(presetLevel ? "instrument" : "sample"))
                                  .arg(zone.target);
                continue;
            }
            part.zones << zone;
        }
        *parts << part;
        *headers << record;
    }
    return true;
}

// Reads and checks the sample headers.
bool ReadSamples(const QByteArray &shdr, Sf2Kit *kit, QString *error)
{
    if (shdr.size() % 46 != 0) {
        return Fail(error, QStringLiteral("the shdr chunk's size (%1) is not a whole number of 46-byte records")
                               .arg(shdr.size()));
    }
    const int count = shdr.size() / 46 - 1; // the last record only closes the list
    if (count > kMaxRecords)
        return Fail(error, QStringLiteral("more than %1 samples").arg(kMaxRecords));
    for (int s = 0; s < count; ++s) {
        const QByteArray r = shdr.mid(46 * s, 46);
        Sf2Sample sample;
        sample.name = Name(r);
        sample.start = ReadLE(r, 20, 4);
        sample.end = ReadLE(r, 24, 4);
        sample.loopStart = ReadLE(r, 28, 4);
        sample.loopEnd = ReadLE(r, 32, 4);
        sample.rate = int(std::min<quint32>(ReadLE(r, 36, 4), 0x7FFFFFFF));
        const int pitch = quint8(r.at(40));
        // 255 marks an unpitched sound; the format plays those at key 60.
        sample.originalPitch = pitch <= 127 ? pitch : 60;
        sample.correction = qint8(r.at(41));
        sample.link = int(ReadLE(r, 42, 2));
        sample.type = int(ReadLE(r, 44, 2));
        const QString label = QStringLiteral("sample %1 (%2)").arg(s).arg(sample.name);
        if (sample.type & kSf2Compressed) {
            return Fail(error, QStringLiteral("%1 is compressed (a SoundFont 3 file), which is not read").arg(label));
        }
        if (!(sample.type & kSf2Rom)) {
            // ROM samples live in a synthesizer's memory, not in the file:
            // their zones are left out, their points mean nothing here.
            if (sample.start > sample.end)
                return Fail(error, QStringLiteral("%1 ends before it starts").arg(label));
            if (sample.end > kit->frames)
                return Fail(error, QStringLiteral("%1 ends past the sample data").arg(label));
            if (sample.loopStart > kit->frames || sample.loopEnd > kit->frames)
                return Fail(error, QStringLiteral("%1's loop lies past the sample data").arg(label));
        }
        if ((sample.type & (kSf2Left | kSf2Right | kSf2Linked)) && sample.link >= count) {
            return Fail(error, QStringLiteral("%1 links to sample %2, which the file does not hold")
                                   .arg(label).arg(sample.link));
        }
        kit->samples << sample;
    }
    return true;
}

// Reads the version and name; `sm24Allowed` tells whether the version
// knows 24-bit samples.
bool ReadInfo(const Input &input, const QVector<Chunk> &top, Sf2Kit *kit, bool *sm24Allowed,
              QString *error)
{
    const Chunk *list = nullptr;
    QVector<Chunk> info;
    if (!ReadList(input, top, "INFO", &list, &info, error))
        return false;
    const Chunk *ifil = FindChunk(info, "ifil");
    QByteArray version;
    if (!ifil || ifil->size != 4 || !input.Read(ifil->offset, 4, &version))
        return Fail(error, QStringLiteral("not a SoundFont: it gives no version"));
    const int major = int(ReadLE(version, 0, 2));
    const int minor = int(ReadLE(version, 2, 2));
    if (major == 3)
        return Fail(error, QStringLiteral("a SoundFont 3 file: its compressed samples are not read"));
    if (major != 2)
        return Fail(error, QStringLiteral("SoundFont version %1.%2 is not read").arg(major).arg(minor));
    QByteArray name;
    const Chunk *inam = FindChunk(info, "INAM");
    if (inam && input.Read(inam->offset, std::min<qint64>(inam->size, 256), &name))
        kit->name = Name(name, 0, int(name.size()));
    // 24-bit samples came with version 2.04.
    *sm24Allowed = minor >= 4;
    return true;
}

bool ReadSampleData(const Input &input, const QVector<Chunk> &top, bool sm24Allowed, Sf2Kit *kit,
                    QString *error)
{
    const Chunk *list = nullptr;
    QVector<Chunk> sdta;
    if (!ReadList(input, top, "sdta", &list, &sdta, error))
        return false;
    const Chunk *smpl = FindChunk(sdta, "smpl");
    if (!smpl)
        return true; // no sample data: any sample pointing into it is refused
    kit->smplOffset = smpl->offset;
    kit->frames = smpl->size / 2;
    const Chunk *sm24 = FindChunk(sdta, "sm24");
    if (!sm24)
        return true;
    // Its size is half the smpl chunk's, made even (or not); any other is ignored.
    if (sm24Allowed && sm24->size >= kit->frames && sm24->size <= kit->frames + (kit->frames & 1))
        kit->sm24Offset = sm24->offset;
    else
        kit->notes << QStringLiteral("the 24-bit sample data does not fit the file's version or its 16-bit data; 16 bits used");
    return true;
}

bool ReadPresetData(const Input &input, const QVector<Chunk> &top, Sf2Kit *kit, QString *error)
{
    const Chunk *list = nullptr;
    QVector<Chunk> pdta;
    if (!ReadList(input, top, "pdta", &list, &pdta, error))
        return false;
    if (list->size > kMaxPresetDataBytes)
        return Fail(error, QStringLiteral("its preset data is larger than %1 bytes").arg(kMaxPresetDataBytes));
    static const char *const ids[9] = {"phdr", "pbag", "pmod", "pgen", "inst", "ibag", "imod", "igen", "shdr"};
    QByteArray data[9];
    for (int i = 0; i < 9; ++i) {
        const Chunk *chunk = FindChunk(pdta, ids[i]);
        if (!chunk)
            return Fail(error, QStringLiteral("not a SoundFont: its preset data has no %1 chunk").arg(QLatin1String(ids[i])));
        if (!input.Read(chunk->offset, chunk->size, &data[i]))
            return Fail(error, QStringLiteral("the file can't be read"));
    }
    if (!ReadSamples(data[8], kit, error))
        return false;
    // Instruments first: the preset zones are checked against how many there are.
    const QByteArray instrumentData[4] = {data[4], data[5], data[6], data[7]};
    const Level instruments{"instrument", {"inst", "ibag", "imod", "igen"}, 22, 20, kSampleId,
                            int(kit->samples.size())};
    QVector<QByteArray> headers;
    if (!ReadLevel(instruments, instrumentData, &kit->instruments, &headers, kit, error))
        return false;
    const QByteArray presetData[4] = {data[0], data[1], data[2], data[3]};
    const Level presets{"preset", {"phdr", "pbag", "pmod", "pgen"}, 38, 24, kInstrument,
                        int(kit->instruments.size())};
    QVector<Sf2Part> parts;
    headers.clear();
    if (!ReadLevel(presets, presetData, &parts, &headers, kit, error))
        return false;
    for (int p = 0; p < parts.size(); ++p) {
        Sf2Preset preset;
        preset.name = parts.at(p).name;
        preset.program = int(ReadLE(headers.at(p), 20, 2));
        preset.bank = int(ReadLE(headers.at(p), 22, 2));
        preset.part = parts.at(p);
        if (preset.part.zones.isEmpty())
            kit->notes << QStringLiteral("preset %1 (%2) has no zones").arg(p).arg(preset.name);
        kit->presets << preset;
    }
    return true;
}

bool Parse(const Input &input, Sf2Kit *kit, QString *error)
{
    QByteArray header;
    if (!input.Read(0, 12, &header) || !header.startsWith("RIFF") || header.mid(8, 4) != "sfbk")
        return Fail(error, QStringLiteral("not a SoundFont: no RIFF sfbk header"));
    const qint64 end = 8 + qint64(ReadLE(header, 4, 4));
    if (end > input.size) {
        return Fail(error, QStringLiteral("the file is cut short: it should hold %1 bytes, it holds %2")
                               .arg(end).arg(input.size));
    }
    QVector<Chunk> top;
    bool sm24Allowed = false;
    if (!ReadChunks(input, 12, end, QStringLiteral("the file"), &top, error)
        || !ReadInfo(input, top, kit, &sm24Allowed, error))
        return false;
    return ReadSampleData(input, top, sm24Allowed, kit, error) && ReadPresetData(input, top, kit, error);
}

// Reads `count` frames from `first` as floats at full scale 1.
bool ReadFrames(const Sf2Kit &kit, qint64 first, qint64 count, std::vector<float> *frames,
                QString *error)
{
    std::shared_ptr<QFile> file;
    Input input;
    if (!kit.bytes.isEmpty()) {
        input.bytes = &kit.bytes;
        input.size = kit.bytes.size();
    } else {
        file = OpenRegularFile(kit.path, error);
        if (!file)
            return false;
        input.file = file.get();
        input.size = file->size();
    }
    QByteArray high, low;
    if (!input.Read(kit.smplOffset + 2 * first, 2 * count, &high)
        || (kit.sm24Offset >= 0 && !input.Read(kit.sm24Offset + first, count, &low)))
        return Fail(error, QStringLiteral("the file changed since it was read"));
    frames->resize(size_t(count));
    for (qint64 i = 0; i < count; ++i) {
        const int value = Signed16(high, int(2 * i));
        (*frames)[size_t(i)] = low.isEmpty() ? float(value / 32768.0)
                                             : float((value * 256 + quint8(low.at(int(i)))) / 8388608.0);
    }
    return true;
}

struct Range {
    int lo = 0;
    int hi = 127;
};

// A range generator's value: low byte the lowest, high byte the highest.
Range RangeOf(const Sf2StoredZone &zone, const Sf2StoredZone &global, int generator)
{
    const Sf2StoredZone &from = zone.Has(generator) ? zone : global;
    if (!from.Has(generator))
        return {};
    const quint16 value = quint16(from.amount[generator]);
    return {std::min(127, value & 0xFF), std::min(127, value >> 8)};
}

Range Intersect(Range a, Range b)
{
    return {std::max(a.lo, b.lo), std::min(a.hi, b.hi)};
}

} // namespace

bool ParseSf2Data(const QByteArray &bytes, Sf2Kit *kit, QString *error)
{
    *kit = Sf2Kit();
    kit->bytes = bytes;
    Input input;
    input.bytes = &kit->bytes;
    input.size = bytes.size();
    return Parse(input, kit, error);
}

bool ReadSf2Kit(const QString &path, Sf2Kit *kit, QString *error)
{
    *kit = Sf2Kit();
    const std::shared_ptr<QFile> file = OpenRegularFile(path, error);
    if (!file)
        return false;
    if (file->size() > kMaxSf2FileBytes)
        return Fail(error, QStringLiteral("larger than %1 bytes").arg(kMaxSf2FileBytes));
    kit->path = path;
    Input input;
    input.file = file.get();
    input.size = file->size();
    if (!Parse(input, kit, error))
        return false;
    if (kit->name.isEmpty())
        kit->name = QFileInfo(path).completeBaseName();
    return true;
}

QString Sf2IgnoredLine(const Sf2Kit &kit)
{
    return IgnoredLine(kit.ignored);
}

QString Sf2PresetLabel(const Sf2Preset &preset)
{
    return QStringLiteral("%1 (%2:%3)").arg(preset.name).arg(preset.bank).arg(preset.program);
}

bool Sf2ChoosePresets(const Sf2Kit &kit, const QString &choice, QVector<int> *presets,
                      QString *error)
{
    presets->clear();
    const QString wanted = choice.trimmed();
    const QRegularExpressionMatch number
        = QRegularExpression(QStringLiteral("^(\\d{1,5}):(\\d{1,5})$")).match(wanted);
    const bool anyDrums = std::any_of(kit.presets.begin(), kit.presets.end(),
                                      [](const Sf2Preset &p) { return p.bank == 128; });
    for (int p = 0; p < kit.presets.size(); ++p) {
        const Sf2Preset &preset = kit.presets.at(p);
        const bool chosen = wanted.isEmpty()
            ? !anyDrums || preset.bank == 128
            : number.hasMatch() ? preset.bank == number.captured(1).toInt()
                    && preset.program == number.captured(2).toInt()
                                : preset.name.compare(wanted, Qt::CaseInsensitive) == 0;
        if (chosen)
            *presets << p;
    }
    std::stable_sort(presets->begin(), presets->end(), [&](int a, int b) {
        const Sf2Preset &x = kit.presets.at(a), &y = kit.presets.at(b);
        return x.bank != y.bank ? x.bank < y.bank : x.program < y.program;
    });
    if (!presets->isEmpty())
        return true;
    if (kit.presets.isEmpty())
        return Fail(error, QStringLiteral("the file has no presets"));
    QStringList names;
    for (const Sf2Preset &preset : kit.presets) {
        if (names.size() == 20) {
            names << QStringLiteral("...");
            break;
        }
        names << Sf2PresetLabel(preset);
    }
    return Fail(error, QStringLiteral("no preset \"%1\"; the file has %2").arg(wanted, names.join(QStringLiteral(", "))));
}

bool Sf2PresetRegions(const Sf2Kit &kit, int preset, QVector<Sf2Region> *regions,
                      QStringList *notes, QString *error)
{
    regions->clear();
    const Sf2Preset &p = kit.presets.at(preset);
    const Sf2StoredZone &pGlobal = p.part.global;
    int joined = 0;
    for (const Sf2StoredZone &pZone : p.part.zones) {
        const Sf2Part &instrument = kit.instruments.at(pZone.target);
        const Sf2StoredZone &iGlobal = instrument.global;
        const Range pKeys = RangeOf(pZone, pGlobal, kKeyRange);
        const Range pVels = RangeOf(pZone, pGlobal, kVelRange);
        for (const Sf2StoredZone &iZone : instrument.zones) {
            // The instrument's value is absolute, the preset's is added to it.
            const auto own = [&](int g, int fallback) {
                return iZone.Has(g) ? iZone.amount[g] : iGlobal.Has(g) ? iGlobal.amount[g] : fallback;
            };
            const auto added = [&](int g) {
                return pZone.Has(g) ? pZone.amount[g] : pGlobal.Has(g) ? pGlobal.amount[g] : 0;
            };
            // Counted before the ranges are compared: zones that never meet
            // still take the time to find out.
            if (++joined > kMaxPresetRegions)
                return Fail(error, QStringLiteral("preset %1 has more than %2 zones").arg(p.name).arg(kMaxPresetRegions));
            const Range keys = Intersect(pKeys, RangeOf(iZone, iGlobal, kKeyRange));
            const Range vels = Intersect(pVels, RangeOf(iZone, iGlobal, kVelRange));
            if (keys.lo > keys.hi || vels.lo > vels.hi)
                continue;
            const Sf2Sample &sample = kit.samples.at(iZone.target);
            const QString label = QStringLiteral("%1, sample %2").arg(instrument.name, sample.name);
            if (sample.type & kSf2Rom) {
                *notes << QStringLiteral("%1: a ROM sample, which the file does not hold; left out").arg(label);
                continue;
            }
            Sf2Region r;
            r.loKey = keys.lo;
            r.hiKey = keys.hi;
            r.loVel = vels.lo;
            r.hiVel = vels.hi;
            r.sample = iZone.target;
            r.start = sample.start + own(kStartOffset, 0) + 32768 * qint64(own(kStartCoarseOffset, 0));
            r.end = sample.end + own(kEndOffset, 0) + 32768 * qint64(own(kEndCoarseOffset, 0));
            if (r.start < 0 || r.end > kit.frames || r.start >= r.end) {
                *notes << QStringLiteral("%1: its offsets leave no frames within the sample data; left out").arg(label);
                continue;
            }
            if (sample.rate < kMinResampleRate || sample.rate > kMaxResampleRate) {
                *notes << QStringLiteral("%1: a sample rate of %2 Hz; left out").arg(label).arg(sample.rate);
                continue;
            }
            const int root = own(kRootKey, -1);
            r.rootKey = root >= 0 && root <= 127 ? root : sample.originalPitch;
            // Sums are kept within the ranges the format gives each value,
            // so no pitch or gain runs out of what a double holds.
            r.scaleTuning = std::clamp(own(kScaleTuning, 100) + added(kScaleTuning), 0, 1200);
            r.tuneCents = 100.0 * std::clamp(own(kCoarseTune, 0) + added(kCoarseTune), -120, 120)
                + std::clamp(own(kFineTune, 0) + added(kFineTune), -99, 99) + sample.correction;
            r.attenuation = std::clamp(own(kAttenuation, 0) + added(kAttenuation), 0, 1440);
            *regions << r;
        }
    }
    return true;
}

QVector<int> Sf2Keys(const QVector<Sf2Region> &regions)
{
    bool plays[128] = {};
    for (const Sf2Region &r : regions)
        std::fill(plays + r.loKey, plays + r.hiKey + 1, true);
    QVector<int> keys;
    for (int key = 0; key < 128; ++key) {
        if (plays[key])
            keys << key;
    }
    return keys;
}

bool Sf2KeyLayers(const Sf2Kit &kit, const QVector<Sf2Region> &regions, int key,
                  QVector<Sf2Layer> *layers, QString *error)
{
    layers->clear();
    QVector<const Sf2Region *> playing;
    for (const Sf2Region &r : regions) {
        if (r.loKey <= key && key <= r.hiKey)
            playing << &r;
    }
    if (playing.size() > kMaxSf2ZonesPerKey) {
        return Fail(error, QStringLiteral("key %1 is played by %2 zones, more than %3")
                               .arg(key).arg(playing.size()).arg(kMaxSf2ZonesPerKey));
    }
    // Velocity 0 is a note's release, not a hit.
    QVector<const Sf2Region *> previous;
    for (int velocity = 1; velocity <= 127; ++velocity) {
        QVector<const Sf2Region *> sounding;
        for (const Sf2Region *r : std::as_const(playing)) {
            if (r->loVel <= velocity && velocity <= r->hiVel)
                sounding << r;
        }
        if (sounding == previous)
            continue;
        previous = sounding;
        if (sounding.isEmpty())
            continue;
        Sf2Layer layer;
        layer.threshold = velocity;
        for (const Sf2Region *r : std::as_const(sounding)) {
            const Sf2Sample &sample = kit.samples.at(r->sample);
            Sf2Zone zone;
            zone.sample = r->sample;
            zone.sampleName = sample.name;
            zone.start = r->start;
            zone.end = r->end;
            zone.rate = sample.rate;
            zone.channel = sample.type & kSf2Left ? Sf2Channel::Left
                : sample.type & kSf2Right         ? Sf2Channel::Right
                                                  : Sf2Channel::Mono;
            const double semitones = (key - r->rootKey) * r->scaleTuning / 100 + r->tuneCents / 100;
            zone.pitchRatio = std::pow(2.0, semitones / 12);
            zone.gain = std::pow(10.0, -r->attenuation / 200);
            layer.zones << zone;
        }
        // A stereo half is paired when the half it links to sounds beside it.
        for (Sf2Zone &zone : layer.zones) {
            if (zone.channel == Sf2Channel::Mono)
                continue;
            const int partner = kit.samples.at(zone.sample).link;
            zone.paired = std::any_of(layer.zones.begin(), layer.zones.end(), [&](const Sf2Zone &other) {
                return other.sample == partner && other.channel != Sf2Channel::Mono
                    && other.channel != zone.channel;
            });
        }
        layers->prepend(layer);
    }
    if (!layers->isEmpty())
        layers->last().threshold = 1;
    return true;
}

QString Sf2DrumName(int key)
{
    static const char *const names[] = {
        "Acoustic Bass Drum", "Bass Drum 1", "Side Stick", "Acoustic Snare", "Hand Clap",
        "Electric Snare", "Low Floor Tom", "Closed Hi-Hat", "High Floor Tom", "Pedal Hi-Hat",
        "Low Tom", "Open Hi-Hat", "Low-Mid Tom", "Hi-Mid Tom", "Crash Cymbal 1", "High Tom",
        "Ride Cymbal 1", "Chinese Cymbal", "Ride Bell", "Tambourine", "Splash Cymbal", "Cowbell",
        "Crash Cymbal 2", "Vibraslap", "Ride Cymbal 2", "Hi Bongo", "Low Bongo", "Mute Hi Conga",
        "Open Hi Conga", "Low Conga", "High Timbale", "Low Timbale", "High Agogo", "Low Agogo",
        "Cabasa", "Maracas", "Short Whistle", "Long Whistle", "Short Guiro", "Long Guiro",
        "Claves", "Hi Wood Block", "Low Wood Block", "Mute Cuica", "Open Cuica", "Mute Triangle",
        "Open Triangle"};
    constexpr int first = 35;
    constexpr int count = int(sizeof names / sizeof *names);
    return key >= first && key < first + count ? QString::fromLatin1(names[key - first]) : QString();
}

QString Sf2BankName(const QString &preset, int key)
{
    const QString drum = Sf2DrumName(key);
    return drum.isEmpty() ? QStringLiteral("%1 - %2").arg(preset, SfzNoteName(key))
                          : QStringLiteral("%1 - %2 %3").arg(preset).arg(key).arg(drum);
}

bool RenderSf2Zone(const Sf2Kit &kit, const Sf2Zone &zone, QVector<double> *samples,
                   QString *error)
{
    samples->clear();
    const double rate = zone.rate * zone.pitchRatio;
    const QString label = QStringLiteral("sample %1").arg(zone.sampleName);
    if (!(rate >= kMinResampleRate && rate <= kMaxResampleRate)) {
        return Fail(error, QStringLiteral("%1: played at %2 times its speed, beyond what is rendered")
                               .arg(label).arg(zone.pitchRatio, 0, 'g', 3));
    }
    // Only what the longest layer can hold is read, with a little more for
    // the resampler's filter.
    const qint64 wanted = std::min<qint64>(zone.end - zone.start,
                                           qint64(std::ceil(kMaxRenderedFrames * rate / kBankRate)) + 256);
    std::vector<float> frames;
    if (!ReadFrames(kit, zone.start, wanted, &frames, error)) {
        *error = QStringLiteral("%1: %2").arg(label, *error);
        return false;
    }
    std::vector<float> resampled;
    if (rate == kBankRate) {
        frames.resize(std::min<size_t>(frames.size(), size_t(kMaxRenderedFrames)));
        resampled.swap(frames);
    } else {
        std::string reason;
        if (!ResampleMono(frames.data(), frames.size(), rate, kBankRate, size_t(kMaxRenderedFrames),
                          &resampled, &reason))
            return Fail(error, QStringLiteral("%1: %2").arg(label, QString::fromStdString(reason)));
    }
    samples->resize(int(resampled.size()));
    for (size_t i = 0; i < resampled.size(); ++i)
        (*samples)[int(i)] = resampled[i] * 32768.0 * zone.gain;
    return true;
}

bool RenderSf2Layer(const Sf2Kit &kit, const Sf2Layer &layer, bool leftOnly,
                    QVector<double> *samples, QStringList *notes)
{
    samples->clear();
    bool any = false;
    for (const Sf2Zone &zone : layer.zones) {
        const double weight = !zone.paired ? 1.0
            : leftOnly                     ? (zone.channel == Sf2Channel::Left ? 1.0 : 0.0)
                                           : 0.5;
        if (weight == 0)
            continue;
        QVector<double> rendered;
        QString error;
        if (!RenderSf2Zone(kit, zone, &rendered, &error)) {
            *notes << error + QStringLiteral("; left out");
            continue;
        }
        any = true;
        if (samples->size() < rendered.size())
            samples->resize(rendered.size());
        for (int i = 0; i < rendered.size(); ++i)
            (*samples)[i] += weight * rendered.at(i);
    }
    return any;
}
