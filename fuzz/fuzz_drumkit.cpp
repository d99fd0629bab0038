// Any bytes as a kit's drumkit.xml: the instruments read from them, and each
// one's plan of layers and thresholds, which the device must accept.

#include "fuzzsupport.h"
#include "kitplan.h"
#include "layerrules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Drumkit kit;
    QString error;
    if (!ParseDrumkitXml(Bytes(data, size), QStringLiteral("/kit"), &kit, &error))
        return 0;
    QStringList names;
    for (const KitInstrument &instrument : std::as_const(kit.instruments)) {
        names << instrument.name;
        KitPlan plan = PlanKitLayers(instrument.layers);
        FUZZ_CHECK(plan.layers.size() <= instrument.layers.size());
        ReduceKitPlan(&plan, kMaxLayers);
        FinishThresholds(&plan);
        const int count = int(plan.layers.size());
        FUZZ_CHECK(count <= kMaxLayers && plan.thresholds.size() == count);
        if (count == 0)
            continue;
        ThresholdTable table = {};
        for (int n = 1; n <= count; ++n)
            table[n] = plan.thresholds.at(n - 1);
        FUZZ_CHECK(ThresholdsAreValid(table, count));
    }
    const QStringList files = KitBankFileNames(kit.name, names);
    FUZZ_CHECK(files.size() == names.size());
    for (const QString &file : files)
        FUZZ_CHECK(!file.contains(QLatin1Char('/')) && file.endsWith(QLatin1String(".zks")));
    return 0;
}
