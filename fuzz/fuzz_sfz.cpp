// Any bytes as an SFZ kit: whatever is read must describe regions a bank can
// use, grouped by key under their own keys, and every key's velocity bands
// must rise within 1..127. The kit's folder holds one file the text may
// include, and a FIFO it may try to.

#include "fuzzsupport.h"
#include "sfzkit.h"

#include <sys/stat.h>

namespace {

const qint64 kMaxFrames = qint64(1) << 40;

QString KitFolder()
{
    static const QString folder = [] {
        const QString path = ScratchFolder() + QStringLiteral("/kit");
        QDir().mkpath(path);
        WriteFile(path + QStringLiteral("/part.sfz"), "<region> sample=part.wav key=36 lovel=40\n");
        ::mkfifo(QFile::encodeName(path + QStringLiteral("/fifo.sfz")).constData(), 0600);
        return path;
    }();
    return folder;
}

void CheckRegions(const SfzKit &kit)
{
    for (const SfzRegion &r : kit.regions) {
        FUZZ_CHECK(0 <= r.loKey && r.loKey <= r.hiKey && r.hiKey <= 127);
        FUZZ_CHECK(1 <= r.loVel && r.loVel <= 127 && 1 <= r.hiVel && r.hiVel <= 127);
        FUZZ_CHECK(r.attack && !r.sample.isEmpty());
        FUZZ_CHECK(0 <= r.offset && r.offset <= kMaxFrames);
        FUZZ_CHECK(r.end == -1 || (0 < r.end && r.end <= kMaxFrames));
    }
    // Every region is grouped once, under its own keys.
    int grouped = 0;
    for (const SfzKeyRange &range : kit.keyRanges) {
        for (int i : range.regions) {
            FUZZ_CHECK(0 <= i && i < kit.regions.size());
            FUZZ_CHECK(kit.regions.at(i).loKey == range.loKey && kit.regions.at(i).hiKey == range.hiKey);
        }
        grouped += int(range.regions.size());
    }
    FUZZ_CHECK(grouped == kit.regions.size());
}

// A key is listed exactly when it has bands.
void CheckBands(const SfzKit &kit)
{
    const QVector<int> keys = SfzKeys(kit);
    for (int key = 0; key <= 127; ++key) {
        int leftOut = 0;
        int previous = 0;
        const QVector<SfzBand> bands = SfzKeyBands(kit, key, &leftOut);
        FUZZ_CHECK(bands.isEmpty() != keys.contains(key));
        for (const SfzBand &band : bands) {
            FUZZ_CHECK(band.threshold > previous && band.threshold <= 127);
            FUZZ_CHECK(!band.regions.isEmpty());
            previous = band.threshold;
        }
        FUZZ_CHECK(leftOut >= 0 && leftOut <= kit.regions.size());
        if (!bands.isEmpty())
            FUZZ_CHECK(SfzKeyNumber(SfzNoteName(key).section(QLatin1Char(' '), 0, 0)) == key);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SfzKit kit;
    QString error;
    if (!ParseSfzText(Bytes(data, size), KitFolder(), &kit, &error)) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    CheckRegions(kit);
    CheckBands(kit);
    return 0;
}
