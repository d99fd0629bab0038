#include "soundplayer.h"

#include <QSoundEffect>
#include <QString>
#include <QUrl>

void PlaySoundFile(QObject *owner, const QString &path)
{
    auto *effect = new QSoundEffect(owner);
    // The file loads in the background: play() waits for it, and a file that
    // cannot be loaded or played never starts.
    QObject::connect(effect, &QSoundEffect::statusChanged, effect, [effect]() {
        if (effect->status() == QSoundEffect::Error)
            effect->deleteLater();
    });
    QObject::connect(effect, &QSoundEffect::playingChanged, effect, [effect]() {
        if (!effect->isPlaying())
            effect->deleteLater();
    });
    effect->setSource(QUrl::fromLocalFile(path));
    effect->play();
}
