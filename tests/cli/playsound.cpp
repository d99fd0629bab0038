// Plays one sound file as the window's play buttons do, then quits: the
// install test runs it under QT_DEBUG_PLUGINS to see what Qt loads to play.

#include <QApplication>
#include <QSoundEffect>
#include <QTimer>

#include <cstdio>

#include "audiooutput.h"
#include "soundplayer.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zk-play-sound FILE.wav\n");
        return 2;
    }
    // A play button first asks for an output; the sound is played whatever
    // the answer, so that a machine without one still loads what plays.
    std::fprintf(stderr, "audio output: %s\n", AudioOutputAvailable() ? "yes" : "no");
    PlaySoundFile(&app, QString::fromLocal8Bit(argv[1]));
    // Done once the playback has gone (played, or refused), or after a
    // while: without a sound output it may wait for one for ever.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&app]() {
        if (!app.findChild<QSoundEffect *>())
            app.quit();
    });
    poll.start(50);
    QTimer::singleShot(1500, &app, &QCoreApplication::quit);
    return app.exec();
}
