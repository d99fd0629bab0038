#include "sfzkit.h"

#include "regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// Deeper nesting than this is no drum kit, even when every file differs.
const int kMaxIncludeDepth = 16;
// Larger SFZ text than this, with its includes and #define expansions
// counted, is no drum kit.
const qint64 kMaxSfzBytes = 16 * 1024 * 1024;
// Nor are more #define substitutions than this, however short their values.
const int kMaxSubstitutions = 1000000;
// Define names are short; the bound keeps finding the longest name that
// starts at a "$" cheap.
const int kMaxDefineName = 64;
// A region plays each key of its range; more such pairs than this (31,250
// regions over all 128 keys, say) is no drum kit, and would keep the import
// going through its bands for minutes.
const qint64 kMaxKeyRegions = 4000000;
// Offsets and ends beyond this many frames (about 290 days at 44.1 kHz) lie
// past any sample; kept below it they can be scaled between rates without
// overflowing.
const qint64 kMaxFrames = qint64(1) << 40;

bool IsCancelled(const std::atomic<bool> *cancelled)
{
    return cancelled && cancelled->load();
}

// The text with /* */ and // comments blanked out, line breaks kept so that
// line numbers stay true.
QString WithoutComments(const QString &text)
{
    QString out;
    out.reserve(text.size());
    bool block = false;
    bool line = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const QChar next = i + 1 < text.size() ? text.at(i + 1) : QChar();
        if (c == QLatin1Char('\n')) {
            line = false;
            out += c;
            continue;
        }
        if (block) {
            if (c == QLatin1Char('*') && next == QLatin1Char('/')) {
                block = false;
                ++i;
            }
            continue;
        }
        if (line)
            continue;
        if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            block = true;
            ++i;
            continue;
        }
        if (c == QLatin1Char('/') && next == QLatin1Char('/')) {
            line = true;
            continue;
        }
        out += c;
    }
    return out;
}

QString DecodeText(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QString text = QString::fromUtf8(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// One header or opcode of a line.
struct Token {
    QString header; // set for a header
    QString opcode; // set for an opcode ...
    QString value;  // ... with its value
};

// A value runs to the next opcode or header, so it may hold spaces.
QVector<Token> Tokens(const QString &text)
{
    static const QRegularExpression mark(QStringLiteral("<(\\w+)>|(?:^|(?<=\\s|>))([A-Za-z0-9_]+)="));
    QVector<Token> tokens;
    QRegularExpressionMatchIterator it = mark.globalMatch(text);
    int valueStart = -1;
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (valueStart >= 0 && !tokens.isEmpty())
            tokens.last().value = text.mid(valueStart, match.capturedStart() - valueStart).trimmed();
        valueStart = -1;
        Token token;
        if (match.capturedLength(1) > 0) {
            token.header = match.captured(1).toLower();
        } else {
            token.opcode = match.captured(2).toLower();
            valueStart = match.capturedEnd();
        }
        tokens.append(token);
    }
    if (valueStart >= 0 && !tokens.isEmpty())
        tokens.last().value = text.mid(valueStart).trimmed();
    return tokens;
}

// A header level's opcodes in the order written: where key and lokey meet,
// the later one wins.
using Opcodes = QVector<QPair<QString, QString>>;

bool ToInt(const QString &text, qint64 *value)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (ok)
        *value = v;
    return ok;
}

bool ToDouble(const QString &text, double *value)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (ok && std::isfinite(v))
        *value = v;
    return ok && std::isfinite(v);
}

int Clamped(qint64 value, int low, int high)
{
    return int(std::max<qint64>(low, std::min<qint64>(high, value)));
}

// A frame count within 0..kMaxFrames; a number too large for 64 bits counts
// as the largest. False for text that is no number or is negative.
bool ToFrames(const QString &text, qint64 *frames)
{
    qint64 whole = 0;
    double real = 0;
    if (ToInt(text, &whole)) {
        if (whole < 0)
            return false;
        *frames = std::min(whole, kMaxFrames);
        return true;
    }
    if (!ToDouble(text, &real) || real < 0)
        return false;
    *frames = real >= double(kMaxFrames) ? kMaxFrames : qint64(real);
    return true;
}

// A key from "36", "c2" or "-1" (played by no key); false for anything else.
bool ToKey(const QString &text, int *key)
{
    if (text.trimmed() == QLatin1String("-1")) {
        *key = -1;
        return true;
    }
    const int number = SfzKeyNumber(text);
    if (number < 0)
        return false;
    *key = number;
    return true;
}

// A region as its opcodes are applied to it, outermost header first.
struct RegionDraft {
    SfzRegion region;
    QString noteName;

    void Apply(const QString &name, const QString &value)
    {
        qint64 number = 0;
        int key = 0;
        if (name == QLatin1String("sample")) {
            region.sample = value;
        } else if (name == QLatin1String("key")) {
            if (ToKey(value, &key)) {
                region.loKey = region.hiKey = key;
                if (key >= 0)
                    region.pitchKeyCenter = key;
            }
        } else if (name == QLatin1String("lokey")) {
            if (ToKey(value, &key))
                region.loKey = key;
        } else if (name == QLatin1String("hikey")) {
            if (ToKey(value, &key))
                region.hiKey = key;
        } else if (name == QLatin1String("pitch_keycenter")) {
            if (ToKey(value, &key) && key >= 0)
                region.pitchKeyCenter = key;
        } else if (name == QLatin1String("lovel")) {
            if (ToInt(value, &number))
                region.loVel = Clamped(number, 1, 127);
        } else if (name == QLatin1String("hivel")) {
            if (ToInt(value, &number))
                region.hiVel = Clamped(number, 1, 127);
        } else if (name == QLatin1String("seq_position")) {
            if (ToInt(value, &number))
                region.seqPosition = Clamped(number, 1, 1000000);
        } else if (name == QLatin1String("lorand")) {
            ToDouble(value, &region.loRand);
        } else if (name == QLatin1String("trigger")) {
            region.attack = value.compare(QLatin1String("attack"), Qt::CaseInsensitive) == 0;
        } else if (name == QLatin1String("volume")) {
            ToDouble(value, &region.volumeDb);
        } else if (name == QLatin1String("amplitude")) {
            ToDouble(value, &region.amplitude);
        } else if (name == QLatin1String("offset")) {
            ToFrames(value, &region.offset);
        } else if (name == QLatin1String("end")) {
            if (ToFrames(value, &number) && number > 0)
                region.end = number;
        } else if (name == QLatin1String("note_name")) {
            noteName = value;
        }
    }
};

// Opcodes that make a region what it is (RegionDraft::Apply's).
bool ShapesRegion(const QString &name)
{
    static const QStringList shaping{
        QStringLiteral("sample"),    QStringLiteral("key"),          QStringLiteral("lokey"),
        QStringLiteral("hikey"),     QStringLiteral("pitch_keycenter"), QStringLiteral("lovel"),
        QStringLiteral("hivel"),     QStringLiteral("seq_position"), QStringLiteral("lorand"),
        QStringLiteral("trigger"),   QStringLiteral("volume"),       QStringLiteral("amplitude"),
        QStringLiteral("offset"),    QStringLiteral("end"),          QStringLiteral("note_name")};
    return shaping.contains(name);
}

// Opcodes that this reader acts on, or that only qualify ones it acts on.
// pitch_keycenter is read but counted as ignored: banks play samples
// unpitched.
bool IsKnownOpcode(const QString &name)
{
    static const QStringList qualifying{QStringLiteral("seq_length"), QStringLiteral("hirand"),
                                        QStringLiteral("default_path")};
    return (ShapesRegion(name) && name != QLatin1String("pitch_keycenter")) || qualifying.contains(name)
        || name.startsWith(QLatin1String("label_key"));
}

// Distinct ignored opcodes reported by name; a file making up more is
// counted under one entry, so the report stays a line.
const int kMaxIgnoredNames = 64;

// Turns the kit's lines, comments and preprocessing done, into regions.
class RegionReader
{
public:
    RegionReader(const QString &kitFolder, SfzKit *kit) : folder(kitFolder), kit(kit) {}

    void Add(const QString &file, int number, const QString &text)
    {
        for (const Token &token : Tokens(text)) {
            if (!token.header.isEmpty()) {
                FinishRegion();
                Enter(token.header, file, number);
                continue;
            }
            const QString &name = token.opcode;
            if (!IsKnownOpcode(name)) {
                const bool room = kit->ignored.size() < kMaxIgnoredNames || kit->ignored.contains(name);
                ++kit->ignored[room ? name : QStringLiteral("(other opcodes)")];
            }
            if (name.startsWith(QLatin1String("label_key"))) {
                bool ok = false;
                const int key = name.mid(9).toInt(&ok);
                if (ok && key >= 0 && key <= 127 && !token.value.isEmpty())
                    kit->keyNames.insert(key, token.value);
                continue;
            }
            if (name == QLatin1String("default_path")) {
                defaultPath = token.value;
                continue;
            }
            Opcodes *level = Level(header);
            if (level && ShapesRegion(name))
                Store(level, name, token.value);
        }
    }

    void Finish()
    {
        FinishRegion();
        header.clear();
    }

private:
    // A later opcode of the same name sets all the earlier one set, so only
    // the later is kept: a level holds a few opcodes however long the file.
    static void Store(Opcodes *level, const QString &name, const QString &value)
    {
        for (int i = 0; i < level->size(); ++i) {
            if (level->at(i).first == name) {
                level->remove(i);
                break;
            }
        }
        level->append({name, value});
    }

    Opcodes *Level(const QString &name)
    {
        if (name == QLatin1String("global"))
            return &global;
        if (name == QLatin1String("master"))
            return &master;
        if (name == QLatin1String("group"))
            return &group;
        if (name == QLatin1String("region"))
            return &region;
        return nullptr;
    }

    // A header starts its level afresh, and every level below it.
    void Enter(const QString &name, const QString &file, int number)
    {
        header = name;
        if (header == QLatin1String("global")) {
            global.clear();
            master.clear();
            group.clear();
        } else if (header == QLatin1String("master")) {
            master.clear();
            group.clear();
        } else if (header == QLatin1String("group")) {
            group.clear();
        } else if (header == QLatin1String("region")) {
            regionLine = number;
            regionFile = file;
        }
    }

    void FinishRegion()
    {
        if (header != QLatin1String("region"))
            return;
        RegionDraft draft;
        for (const Opcodes *level : {&global, &master, &group, &region}) {
            for (const auto &opcode : *level)
                draft.Apply(opcode.first, opcode.second);
        }
        region.clear();
        SfzRegion &made = draft.region;
        made.line = regionLine;
        made.file = regionFile;
        if (!draft.noteName.isEmpty() && made.loKey == made.hiKey && made.loKey >= 0
            && !kit->keyNames.contains(made.loKey))
            kit->keyNames.insert(made.loKey, draft.noteName);
        if (made.sample.isEmpty())
            return;
        if (!made.attack) {
            ++kit->releaseRegions;
            return;
        }
        // lokey=-1 starts at the lowest key; a top below the bottom, of keys
        // or of velocities, is a region no hit plays.
        made.loKey = std::max(made.loKey, 0);
        if (made.hiKey < made.loKey || made.hiVel < made.loVel) {
            ++kit->unplayedRegions;
            return;
        }
        QString samplesFolder = folder;
        if (!defaultPath.isEmpty()) {
            QString path = defaultPath;
            path.replace(QLatin1Char('\\'), QLatin1Char('/'));
            samplesFolder = QDir(folder).absoluteFilePath(path);
        }
        QString sample = made.sample;
        sample.replace(QLatin1Char('\\'), QLatin1Char('/'));
        made.sample = QDir::cleanPath(QDir(samplesFolder).absoluteFilePath(sample));
        kit->regions.append(made);
    }

    QString folder;
    SfzKit *kit;
    Opcodes global, master, group, region;
    QString defaultPath;
    QString header;
    int regionLine = 0;
    QString regionFile;
};

// A line of the kit, for messages: "kit.sfz, line 3: ...".
struct Where {
    QString file;
    int line;
    QString operator()(const QString &message) const
    {
        return QStringLiteral("%1, line %2: %3").arg(file).arg(line).arg(message);
    }
};

// Follows #define and #include over the kit's files, handing every other
// line on, within the bounds a downloaded kit is held to.
class Preprocessor
{
public:
    Preprocessor(const QString &kitFolder, RegionReader *reader, const std::atomic<bool> *cancelled)
        : folder(QDir(kitFolder).absolutePath()), reader(reader), cancelled(cancelled)
    {
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        canonicalFolder = canonical.isEmpty() ? folder : canonical;
    }

    // The text of `fileName`, read as `bytes` of it.
    bool Add(const QString &fileName, qint64 bytes, const QString &text, QString *error)
    {
        textSize += bytes;
        const QString label = QFileInfo(fileName).fileName();
        const QString plain = WithoutComments(text);
        int number = 0;
        for (int start = 0; start <= plain.size(); ++number) {
            if (IsCancelled(cancelled)) {
                *error = QStringLiteral("cancelled");
                return false;
            }
            int end = plain.indexOf(QLatin1Char('\n'), start);
            if (end < 0)
                end = plain.size();
            const QString row = plain.mid(start, end - start);
            start = end + 1;
            const QString trimmed = row.trimmed();
            if (trimmed.isEmpty())
                continue;
            const Where where{label, number + 1};
            QString expanded;
            if (trimmed.startsWith(QLatin1String("#define"))) {
                if (!Define(trimmed, where, error))
                    return false;
            } else if (trimmed.startsWith(QLatin1String("#include"))) {
                if (!Substituted(trimmed, where, &expanded, error) || !Include(expanded, where, error))
                    return false;
            } else {
                if (!Substituted(row, where, &expanded, error))
                    return false;
                reader->Add(fileName, number + 1, expanded);
            }
        }
        return true;
    }

private:
    bool Define(const QString &row, const Where &where, QString *error)
    {
        static const QRegularExpression pattern(QStringLiteral("^#define\\s+(\\$\\w+)\\s+(.*)$"));
        const QRegularExpressionMatch match = pattern.match(row);
        if (!match.hasMatch())
            return true;
        const QString name = match.captured(1);
        if (name.size() > kMaxDefineName + 1) {
            *error = where(QStringLiteral("a #define name longer than %1 characters").arg(kMaxDefineName));
            return false;
        }
        QString value;
        if (!Substituted(match.captured(2).trimmed(), where, &value, error))
            return false;
        defines[name] = value;
        if (!nameLengths.contains(name.size())) {
            nameLengths.append(name.size());
            std::sort(nameLengths.begin(), nameLengths.end(), std::greater<int>());
        }
        return true;
    }

    // `text` with every $NAME defined so far replaced by its value, the
    // longest name first where names start alike, so that $KICK never eats
    // the start of $KICK2. A value is not searched again: it was expanded
    // when defined. The growth counts against the kit's text.
    bool Substituted(const QString &text, const Where &where, QString *out, QString *error)
    {
        if (defines.isEmpty() || !text.contains(QLatin1Char('$'))) {
            *out = text;
            return true;
        }
        QString result;
        for (int i = 0; i < text.size();) {
            const int dollar = text.indexOf(QLatin1Char('$'), i);
            if (dollar < 0) {
                result += text.mid(i);
                break;
            }
            result += text.mid(i, dollar - i);
            int run = dollar + 1;
            while (run < text.size() && run - dollar <= kMaxDefineName
                   && (text.at(run).isLetterOrNumber() || text.at(run) == QLatin1Char('_')))
                ++run;
            int length = 0;
            for (int candidate : std::as_const(nameLengths)) {
                if (candidate <= run - dollar && defines.contains(text.mid(dollar, candidate))) {
                    length = candidate;
                    break;
                }
            }
            if (length == 0) {
                result += QLatin1Char('$');
                i = dollar + 1;
                continue;
            }
            if (++substitutions > kMaxSubstitutions) {
                *error = where(QStringLiteral("more than %1 #define substitutions").arg(kMaxSubstitutions));
                return false;
            }
            const QString &value = defines[text.mid(dollar, length)];
            if (textSize + result.size() + value.size() - (dollar + length) > kMaxSfzBytes) {
                *error = where(QStringLiteral("#define expansion makes the kit's text larger than %1 characters")
                                   .arg(kMaxSfzBytes));
                return false;
            }
            result += value;
            i = dollar + length;
        }
        textSize += std::max<qint64>(0, result.size() - text.size());
        *out = result;
        return true;
    }

    bool Include(const QString &row, const Where &where, QString *error)
    {
        static const QRegularExpression pattern(QStringLiteral("^#include\\s+\"([^\"]*)\""));
        const QRegularExpressionMatch match = pattern.match(row);
        if (!match.hasMatch()) {
            *error = where(QStringLiteral("an #include names no file in quotes"));
            return false;
        }
        QString name = match.captured(1);
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty()) {
            *error = where(QStringLiteral("the included file %1 does not exist").arg(name));
            return false;
        }
        if (!canonical.startsWith(canonicalFolder + QLatin1Char('/'))) {
            *error = where(QStringLiteral("the included file %1 lies outside the kit's folder").arg(name));
            return false;
        }
        if (stack.contains(canonical)) {
            *error = where(QStringLiteral("including %1 again would loop").arg(name));
            return false;
        }
        if (stack.size() >= kMaxIncludeDepth) {
            *error = where(QStringLiteral("including %1 makes a chain of includes deeper than %2 files")
                               .arg(name)
                               .arg(kMaxIncludeDepth));
            return false;
        }
        QByteArray bytes;
        QString reason;
        if (!ReadRegularFile(canonical, kMaxSfzBytes, &bytes, &reason)) {
            *error = where(QStringLiteral("the included file %1 can't be read (%2)").arg(name, reason));
            return false;
        }
        if (textSize + bytes.size() > kMaxSfzBytes) {
            *error = where(QStringLiteral("including %1 makes the kit's text larger than %2 bytes")
                               .arg(name)
                               .arg(kMaxSfzBytes));
            return false;
        }
        stack.append(canonical);
        const bool added = Add(canonical, bytes.size(), DecodeText(bytes), error);
        stack.removeLast();
        return added;
    }

    QString folder;
    QString canonicalFolder;
    RegionReader *reader;
    const std::atomic<bool> *cancelled;
    QHash<QString, QString> defines;
    QVector<int> nameLengths; // of the names defined, longest first
    QStringList stack;
    qint64 textSize = 0;    // the kit's text so far: files read and expansions
    int substitutions = 0;
};

// The regions grouped by the keys they play, each group's regions in the
// file's order.
QVector<SfzKeyRange> KeyRanges(const QVector<SfzRegion> &regions)
{
    QVector<SfzKeyRange> ranges;
    QHash<int, int> rangeOf; // loKey * 128 + hiKey -> index into ranges
    for (int i = 0; i < regions.size(); ++i) {
        const SfzRegion &region = regions.at(i);
        const int lo = std::max(region.loKey, 0);
        const int hi = std::min(region.hiKey, 127);
        if (hi < lo || region.hiVel < region.loVel)
            continue;
        const int id = lo * 128 + hi;
        auto found = rangeOf.constFind(id);
        if (found == rangeOf.constEnd()) {
            found = rangeOf.insert(id, int(ranges.size()));
            SfzKeyRange range;
            range.loKey = lo;
            range.hiKey = hi;
            ranges.append(range);
        }
        ranges[found.value()].regions.append(i);
    }
    return ranges;
}

const QVector<SfzKeyRange> &KitKeyRanges(const SfzKit &kit, QVector<SfzKeyRange> *made)
{
    if (!kit.keyRanges.isEmpty() || kit.regions.isEmpty())
        return kit.keyRanges;
    *made = KeyRanges(kit.regions);
    return *made;
}

// The regions that `key` plays, in the file's order.
QVector<int> KeyRegions(const QVector<SfzKeyRange> &ranges, int key)
{
    QVector<int> regions;
    for (const SfzKeyRange &range : ranges) {
        if (range.loKey <= key && key <= range.hiKey)
            regions += range.regions;
    }
    std::sort(regions.begin(), regions.end());
    return regions;
}

} // namespace

double SfzRegion::Gain() const
{
    return std::pow(10.0, volumeDb / 20.0) * amplitude / 100.0;
}

namespace {

bool Parse(const QByteArray &text, const QString &folder, SfzKit *kit, QString *error,
           const std::atomic<bool> *cancelled)
{
    const QString name = kit->path.isEmpty() ? QStringLiteral("kit.sfz") : kit->path;
    if (text.size() > kMaxSfzBytes) {
        *error = QStringLiteral("%1: larger than %2 bytes").arg(QFileInfo(name).fileName()).arg(kMaxSfzBytes);
        return false;
    }
    RegionReader reader(folder, kit);
    Preprocessor preprocessor(folder, &reader, cancelled);
    if (!preprocessor.Add(name, text.size(), DecodeText(text), error))
        return false;
    reader.Finish();
    kit->keyRanges = KeyRanges(kit->regions);
    qint64 keyRegions = 0;
    for (const SfzKeyRange &range : std::as_const(kit->keyRanges))
        keyRegions += qint64(range.hiKey - range.loKey + 1) * range.regions.size();
    if (keyRegions > kMaxKeyRegions) {
        *error = QStringLiteral("%1: %2 regions playing %3 keys in all are more than a drum kit holds "
                                "(at most %4)")
                     .arg(QFileInfo(name).fileName())
                     .arg(kit->regions.size())
                     .arg(keyRegions)
                     .arg(kMaxKeyRegions);
        return false;
    }
    return true;
}

} // namespace

bool ParseSfzText(const QByteArray &text, const QString &folder, SfzKit *kit, QString *error,
                  const std::atomic<bool> *cancelled)
{
    if (Parse(text, folder, kit, error, cancelled))
        return true;
    // A refused kit holds nothing half read.
    SfzKit refused;
    refused.path = kit->path;
    refused.name = kit->name;
    *kit = refused;
    return false;
}

bool ReadSfzKit(const QString &path, SfzKit *kit, QString *error, const std::atomic<bool> *cancelled)
{
    *kit = SfzKit();
    kit->path = path;
    kit->name = QFileInfo(path).completeBaseName();
    QByteArray text;
    QString reason;
    if (!ReadRegularFile(path, kMaxSfzBytes, &text, &reason)) {
        *error = QStringLiteral("%1: can't be read (%2)").arg(QFileInfo(path).fileName(), reason);
        return false;
    }
    return ParseSfzText(text, QFileInfo(path).absolutePath(), kit, error, cancelled);
}

int SfzKeyNumber(const QString &text)
{
    const QString t = text.trimmed().toLower();
    bool ok = false;
    const int number = t.toInt(&ok);
    if (ok)
        return number >= 0 && number <= 127 ? number : -1;
    static const QRegularExpression pattern(QStringLiteral("^([a-g])([#b]?)(-?\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(t);
    if (!match.hasMatch())
        return -1;
    static const int semitones[] = {9, 11, 0, 2, 4, 5, 7}; // a b c d e f g
    int key = semitones[match.captured(1).at(0).unicode() - 'a'];
    if (match.captured(2) == QLatin1String("#"))
        ++key;
    else if (match.captured(2) == QLatin1String("b"))
        --key;
    const int octave = match.captured(3).toInt(&ok);
    if (!ok || octave < -1 || octave > 9)
        return -1;
    key += (octave + 1) * 12;
    return key >= 0 && key <= 127 ? key : -1;
}

QString SfzNoteName(int key)
{
    static const char *const names[] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
    return QStringLiteral("%1%2 (%3)")
        .arg(QLatin1String(names[key % 12]))
        .arg(key / 12 - 1)
        .arg(key);
}

QString SfzKeyName(const SfzKit &kit, int key)
{
    return kit.keyNames.value(key, SfzNoteName(key));
}

QString IgnoredLine(const QMap<QString, int> &ignored)
{
    QStringList parts;
    for (auto it = ignored.constBegin(); it != ignored.constEnd(); ++it)
        parts << QStringLiteral("%1 \u00d7%2").arg(it.key()).arg(it.value());
    if (parts.isEmpty())
        return QString();
    return QStringLiteral("ignored: ") + parts.join(QStringLiteral(", "));
}

QString SfzIgnoredLine(const SfzKit &kit)
{
    return IgnoredLine(kit.ignored);
}

QVector<int> SfzKeys(const SfzKit &kit)
{
    QVector<SfzKeyRange> made;
    const QVector<SfzKeyRange> &ranges = KitKeyRanges(kit, &made);
    QVector<int> keys;
    for (int key = 0; key <= 127; ++key) {
        for (const SfzKeyRange &range : ranges) {
            if (range.loKey <= key && key <= range.hiKey && !range.regions.isEmpty()) {
                keys.append(key);
                break;
            }
        }
    }
    return keys;
}

QVector<SfzBand> SfzKeyBands(const SfzKit &kit, int key, int *leftOut)
{
    QVector<SfzKeyRange> made;
    const QVector<int> regions = KeyRegions(KitKeyRanges(kit, &made), key);
    // Over the same velocities: the first round robin, and of that the
    // random pick with the lowest lorand.
    using Rank = QPair<int, double>;
    const auto rank = [&](int i) { return Rank(kit.regions.at(i).seqPosition, kit.regions.at(i).loRand); };
    const auto velocities = [&](int i) { return kit.regions.at(i).loVel * 128 + kit.regions.at(i).hiVel; };
    QHash<int, Rank> first;
    for (int i : regions) {
        const auto found = first.constFind(velocities(i));
        if (found == first.constEnd() || rank(i) < found.value())
            first.insert(velocities(i), rank(i));
    }
    QVector<int> kept;
    for (int i : regions) {
        if (rank(i) == first.value(velocities(i)))
            kept.append(i);
    }
    if (leftOut)
        *leftOut = int(regions.size() - kept.size());

    // Which regions play changes only where one's range starts or ends.
    QVector<bool> change(128 + 1, false);
    for (int i : std::as_const(kept)) {
        change[std::clamp(kit.regions.at(i).loVel, 1, 127)] = true;
        change[std::clamp(kit.regions.at(i).hiVel + 1, 1, 128)] = true;
    }
    QVector<SfzBand> bands;
    QVector<int> previous;
    for (int v = 1; v <= 127; ++v) {
        if (!change.at(v))
            continue;
        QVector<int> playing;
        for (int i : std::as_const(kept)) {
            if (kit.regions.at(i).loVel <= v && v <= kit.regions.at(i).hiVel)
                playing.append(i);
        }
        // A velocity that plays nothing is played by the band below it, as
        // the device plays the layer with the highest threshold reached.
        if (playing.isEmpty() || playing == previous)
            continue;
        SfzBand band;
        band.threshold = v;
        band.regions.reserve(playing.size());
        for (int i : std::as_const(playing))
            band.regions.append(kit.regions.at(i));
        bands.append(band);
        previous = playing;
    }
    return bands;
}
