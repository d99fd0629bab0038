#ifndef TESTMAIN_H
#define TESTMAIN_H

// Each tier of tests is one program: its test classes register themselves,
// and the first argument names the class to run (every class, one after the
// other, when none is named). CTest runs each class as an entry of its own,
// in a process of its own, so no class sees another's state.

class QObject;

using TestFactory = QObject *(*)();
bool RegisterTest(const char *name, TestFactory make);

// A test that runs its own program as a helper process registers the flag
// that selects the helper's work: `tier FLAG ARGS...` then runs `mode` with
// the application object made and the flag still in argv[1].
using TestMode = int (*)(int argc, char **argv);
bool RegisterTestMode(const char *flag, TestMode mode);

#define ZK_TEST(Class)                                                                        \
    static const bool zkTestRegistered = RegisterTest(#Class, []() -> QObject * { return new Class; });

#endif
