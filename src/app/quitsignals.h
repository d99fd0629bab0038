#ifndef QUITSIGNALS_H
#define QUITSIGNALS_H

// Ctrl-C, kill and a closed terminal (SIGINT, SIGTERM, SIGHUP) end the
// program through its own clean-up, as zkstool's do: the main loop and any
// dialog's loop end, and the window goes, removing its working folder. No
// question is asked. A signal the caller chose to ignore (nohup) stays
// ignored. Call once the application object exists.
void QuitOnSignals();

// The first of those signals to come; 0 while none has.
int QuitSignal();

#endif
