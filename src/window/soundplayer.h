#ifndef SOUNDPLAYER_H
#define SOUNDPLAYER_H

class QObject;
class QString;

// Starts playing the WAVE file at `path` through the default sound output
// and returns at once. Each call starts a playback of its own, a child of
// `owner`, which removes itself when the sound has ended or cannot be
// played, and at the latest with its owner. Failures pass silently.
void PlaySoundFile(QObject *owner, const QString &path);

#endif
