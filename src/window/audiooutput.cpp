#include "audiooutput.h"

#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
// QMediaDevices only declares the device type its lists hold.
#include <QAudioDevice>
#include <QMediaDevices>
#else
#include <QAudioDeviceInfo>
#endif

namespace {

AudioOutputCheck replacement = nullptr;

bool SystemHasAudioOutput()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return !QMediaDevices::audioOutputs().isEmpty();
#else
    // Qt 5 may list a nameless placeholder device where there is none, so
    // only a default device counts.
    return !QAudioDeviceInfo::defaultOutputDevice().isNull();
#endif
}

} // namespace

bool AudioOutputAvailable()
{
    return replacement ? replacement() : SystemHasAudioOutput();
}

void SetAudioOutputCheck(AudioOutputCheck check)
{
    replacement = check;
}
