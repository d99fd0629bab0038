#ifndef CATCHSIGNALS_H
#define CATCHSIGNALS_H

#include <initializer_list>

// Points each of the signals at `handler`, so zkstool and the window end
// through their own clean-up: interrupted system calls restart, and a
// signal the caller chose to ignore (nohup) stays ignored.
void CatchSignals(std::initializer_list<int> numbers, void (*handler)(int));

#endif
