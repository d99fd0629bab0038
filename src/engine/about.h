#ifndef ABOUT_H
#define ABOUT_H

#include <QString>
#include <QStringList>

// The program's version, e.g. "2.1".
QString ProgramVersion();

// The libraries the program runs with, one line each with the version in
// use and the licence it is used under, e.g.
// "libsndfile-1.2.0 (GNU LGPL 2.1 or later)".
QStringList LibraryLines();

#endif
