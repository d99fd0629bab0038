#ifndef AUDIOOUTPUT_H
#define AUDIOOUTPUT_H

// Whether the system has a sound output to play a layer through. Without one
// (no sound card, no sound server) playback would do nothing at all.
bool AudioOutputAvailable();

// Replaces the system query, so tests can give either answer on any machine;
// nullptr restores it.
using AudioOutputCheck = bool (*)();
void SetAudioOutputCheck(AudioOutputCheck check);

#endif
