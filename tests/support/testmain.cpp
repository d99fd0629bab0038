#include "testmain.h"

#include <QCoreApplication>
#include <QtTest>
#ifdef ZK_TEST_WIDGETS
#include <QApplication>
#endif

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

// Function-local, so registration from other files' static initialisers
// never finds them unmade.
std::map<std::string, TestFactory> &Tests()
{
    static std::map<std::string, TestFactory> tests;
    return tests;
}

std::map<std::string, TestMode> &Modes()
{
    static std::map<std::string, TestMode> modes;
    return modes;
}

int RunTest(TestFactory make, int argc, char **argv)
{
    std::unique_ptr<QObject> test(make());
    return QTest::qExec(test.get(), argc, argv);
}

} // namespace

bool RegisterTest(const char *name, TestFactory make)
{
    return Tests().emplace(name, make).second;
}

bool RegisterTestMode(const char *flag, TestMode mode)
{
    return Modes().emplace(flag, mode).second;
}

int main(int argc, char *argv[])
{
#ifdef ZK_TEST_WIDGETS
    // As QTEST_MAIN sets up a widget test.
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
#else
    QCoreApplication app(argc, argv);
#endif
    if (argc >= 2) {
        const auto mode = Modes().find(argv[1]);
        if (mode != Modes().end())
            return mode->second(argc, argv);
        const auto test = Tests().find(argv[1]);
        if (test != Tests().end()) {
            // Qt Test reads the rest of the command line as its own.
            argv[1] = argv[0];
            return RunTest(test->second, argc - 1, argv + 1);
        }
        if (argv[1][0] != '-') {
            std::fprintf(stderr, "%s: no test class %s; the classes are:\n", argv[0], argv[1]);
            for (const auto &entry : Tests())
                std::fprintf(stderr, "  %s\n", entry.first.c_str());
            return 2;
        }
    }
    int failed = 0;
    for (const auto &entry : Tests())
        failed += RunTest(entry.second, argc, argv);
    return failed;
}
