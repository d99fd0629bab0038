// Adds one layer the way the window's "+" does, without the window:
// ConvertFile, then OpenAndCheckFile on its result.
//   bench-addlayer INPUT [COPY]
//   bench-addlayer --repeat N INPUT
// The first form prints the sound check's verdict, and copies the converted
// file to COPY when given (for the quality comparison); it exits 1 when the
// converters made no file. The second adds the layer N times in this one
// process and prints the median time in milliseconds: the time the window
// itself is busy, without this program's own start.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "benchsupport.h"
#include "fileprocessor.h"

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: bench-addlayer INPUT [COPY]\n"
                         "       bench-addlayer --repeat N INPUT\n");
    return 2;
}

int AddOnce(const QString &input, const QString &copy)
{
    const QString converted = ConvertFile(input);
    const int verdict = OpenAndCheckFile(converted);
    bool made = QFile::exists(converted);
    if (made && !copy.isEmpty()) {
        QFile::remove(copy);
        made = QFile::copy(converted, copy);
    }
    RemoveWorkFolder();
    std::printf("%d\n", verdict);
    return made ? 0 : 1;
}

int AddRepeatedly(int times, const QString &input)
{
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QString converted = ConvertFile(input);
        OpenAndCheckFile(converted);
        ms.push_back(clock.nsecsElapsed() / 1e6);
        if (!QFile::exists(converted))
            return 1;
        RemoveWorkFolder();
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.2f\n", ms[ms.size() / 2]);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    DropDebugMessages();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args.at(1) == QLatin1String("--repeat") && args.at(2).toInt() > 0)
        return AddRepeatedly(args.at(2).toInt(), args.at(3));
    if (args.size() == 2 || args.size() == 3)
        return AddOnce(args.at(1), args.value(2));
    return Usage();
}
