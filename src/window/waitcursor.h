#ifndef WAITCURSOR_H
#define WAITCURSOR_H

#include <QGuiApplication>

// Shows the wait cursor while the window can't respond (or, as the busy
// cursor, while it works in the background), and never leaves it behind,
// whichever way the work ends.
class WaitCursor
{
public:
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor)
    {
        QGuiApplication::setOverrideCursor(shape);
    }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

#endif
