#include "catchsignals.h"

#include <QtGlobal>

#include <csignal>

#ifdef Q_OS_UNIX
#include <signal.h>
#endif

void CatchSignals(std::initializer_list<int> numbers, void (*handler)(int))
{
    for (const int number : numbers) {
#ifdef Q_OS_UNIX
        struct sigaction action = {};
        if (sigaction(number, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action.sa_handler = handler;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(number, &action, nullptr);
#else
        std::signal(number, handler);
#endif
    }
}
