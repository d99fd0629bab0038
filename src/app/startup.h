#ifndef STARTUP_H
#define STARTUP_H

#include <QString>

// The folder that holds the running program's executable, found without the
// application object (empty where the platform can't tell).
QString ExecutableFolder();

// Appends the program's own plug-in folders (its executable's folder and
// its "imageformats", "platforms" and "sqldrivers" subfolders) to Qt's
// plug-in search list. Call before the application object exists.
void WidenLibraryPaths();

// False when the program would have no screen to show its window on.
bool DisplayAvailable(int argc, char **argv);

#endif
