#ifndef WAITCURSOR_H
#define WAITCURSOR_H

#include <QApplication>

// Shows the wait cursor while the window can't respond (or, as the busy
// cursor, while it works in the background), and never leaves it behind,
// whichever way the work ends.
class WaitCursor
{
public:
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor)
    {
        QApplication::setOverrideCursor(shape);
    }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

#endif
