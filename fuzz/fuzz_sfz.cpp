// Any bytes as an SFZ kit: whatever is read must describe regions a bank can
// use, and every key's velocity bands must rise within 1..127. The kit's
// folder holds one file the text may include, and nothing else.

#include "fuzzsupport.h"
#include "sfzkit.h"

namespace {

QString KitFolder()
{
    static const QString folder = [] {
        const QString path = ScratchFolder() + QStringLiteral("/kit");
        QDir().mkpath(path);
        WriteFile(path + QStringLiteral("/part.sfz"), "<region> sample=part.wav key=36 lovel=40\n");
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
        FUZZ_CHECK(r.offset >= 0 && (r.end == -1 || r.end > 0));
    }
}

void CheckBands(const SfzKit &kit)
{
    for (int key : SfzKeys(kit)) {
        FUZZ_CHECK(SfzKeyNumber(SfzNoteName(key).section(QLatin1Char(' '), 0, 0)) == key);
        int leftOut = 0;
        int previous = 0;
        for (const SfzBand &band : SfzKeyBands(kit, key, &leftOut)) {
            FUZZ_CHECK(band.threshold > previous && band.threshold <= 127);
            FUZZ_CHECK(!band.regions.isEmpty());
            previous = band.threshold;
        }
        FUZZ_CHECK(leftOut >= 0 && leftOut <= kit.regions.size());
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
