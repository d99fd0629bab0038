#include "quitsignals.h"

#include <QCoreApplication>

#include <atomic>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "catchsignals.h"
#endif

namespace {

// Set by the handler, which may touch nothing but lock-free atomics and
// write(): the byte it writes wakes the main loop, which does the rest.
std::atomic<int> caught(0);

#ifdef Q_OS_UNIX
int wake[2] = {-1, -1};

void OnSignal(int number)
{
    int none = 0;
    caught.compare_exchange_strong(none, number);
    const char byte = 1;
    const ssize_t written = ::write(wake[1], &byte, 1);
    static_cast<void>(written); // a full pipe already holds a wake-up
}
#endif

} // namespace

void QuitOnSignals()
{
#ifdef Q_OS_UNIX
    if (::pipe(wake) != 0)
        return;
    for (const int fd : wake) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    auto *notifier = new QSocketNotifier(wake[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, QCoreApplication::instance(), []() {
        char byte;
        while (::read(wake[0], &byte, 1) > 0) {
        }
        // Every loop of the main thread ends, a dialog's too; the exit
        // status says which signal, as a shell's would.
        QCoreApplication::exit(128 + caught);
    });
    CatchSignals({SIGINT, SIGTERM, SIGHUP}, OnSignal);
#endif
}

int QuitSignal()
{
    return caught;
}
