// Writes one bank the way the Generate button does, without the window.
//   bench-writebank [--repeat N] BANK LAYER...
// The layers are sized by the sound check, as when they were added, and
// written with the default thresholds and no silence gate. With --repeat,
// the bank is written N times in this one process and the median time of
// GenerateZKS is printed in milliseconds: the time the window itself is
// busy, without this program's own start.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchsupport.h"
#include "fileprocessor.h"
#include "layerrules.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    DropDebugMessages();
    QStringList args = QCoreApplication::arguments();
    int repeat = 0;
    if (args.size() > 2 && args.at(1) == QLatin1String("--repeat")) {
        repeat = args.at(2).toInt();
        args.erase(args.begin() + 1, args.begin() + 3);
    }
    if (args.size() < 3 || args.size() > 2 + kMaxLayers || repeat < 0) {
        std::fprintf(stderr, "usage: bench-writebank [--repeat N] BANK LAYER... (1 to 8 layers)\n");
        return 2;
    }
    GeneratorArgs bank;
    bank.TargetPath = args.at(1);
    bank.TargetName = QFileInfo(args.at(1)).fileName();
    bank.LayerCount = args.size() - 2;
    ThresholdTable thresholds = {};
    DefaultThresholds(thresholds, bank.LayerCount);
    for (int i = 0; i < bank.LayerCount; ++i) {
        bank.LayerPath[i] = args.at(i + 2);
        bank.LayerName[i] = QFileInfo(bank.LayerPath[i]).fileName();
        bank.LayerSize[i] = OpenAndCheckFile(bank.LayerPath[i]);
        bank.Threshold[i] = thresholds[i + 1];
        if (bank.LayerSize[i] <= 0) {
            std::fprintf(stderr, "%s: refused (%d)\n", qPrintable(bank.LayerPath[i]),
                         bank.LayerSize[i]);
            return 1;
        }
    }
    std::vector<double> ms;
    qint32 result = GENERATE_OK;
    for (int i = 0; i < std::max(repeat, 1) && result == GENERATE_OK; ++i) {
        QElapsedTimer clock;
        clock.start();
        result = GenerateZKS(bank);
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    if (result != GENERATE_OK) {
        std::fprintf(stderr, "GenerateZKS: %d\n", result);
        return 1;
    }
    if (repeat > 0) {
        std::sort(ms.begin(), ms.end());
        std::printf("%.2f\n", ms[ms.size() / 2]);
    }
    return 0;
}
