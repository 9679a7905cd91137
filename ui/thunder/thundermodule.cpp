// thunder.so: the About window's sound, in a module of its own so that the program does not load
// the audio libraries (Qt Multimedia with its codecs, sound server and network libraries) at
// every start, only when the thunder first rolls.
#include <QAudioDevice>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

// Plays the file from its beginning, once the one before is stopped. False without a sound
// device, where the effect would only complain once the file is read.
extern "C" Q_DECL_EXPORT bool zelv_thunder_play(const QString *file)
{
    static QSoundEffect *effect = nullptr;
    static QString playing;
    if (QMediaDevices::audioOutputs().isEmpty())
        return false;
    if (!effect || playing != *file) {
        delete effect;
        effect = new QSoundEffect(QCoreApplication::instance());
        effect->setSource(QUrl::fromLocalFile(*file));
        playing = *file;
    }
    effect->stop();
    effect->play();
    return true;
}
