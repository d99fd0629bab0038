#ifndef STARTUP_H
#define STARTUP_H

// Appends the program's own plug-in folders (".", "imageformats",
// "platforms", "sqldrivers") to Qt's plug-in search list. Call before the
// application object exists.
void WidenLibraryPaths();

// False when the program would have no screen to show its window on.
bool DisplayAvailable(int argc, char **argv);

#endif
