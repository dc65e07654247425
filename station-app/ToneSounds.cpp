#include "ToneSounds.h"
#include "WavTone.h"

#include <QFile>
#include <QSoundEffect>
#include <QUrl>

namespace quobin {

namespace {

std::unique_ptr<QSoundEffect> loadTone(const QTemporaryDir &folder, const QString &name, const QList<Note> &notes)
{
    auto effect = std::make_unique<QSoundEffect>();
    if (!folder.isValid())
        return effect;
    const QString path = folder.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(wavTone(notes)) > 0) {
        file.close();
        effect->setSource(QUrl::fromLocalFile(path));
    }
    return effect;
}

} // namespace

ToneSounds::ToneSounds()
    : m_pass(loadTone(m_folder, QStringLiteral("pass.wav"), passNotes())),
      m_fail(loadTone(m_folder, QStringLiteral("fail.wav"), failNotes()))
{
}

ToneSounds::~ToneSounds() = default;

void ToneSounds::passTone()
{
    m_pass->play();
}

void ToneSounds::failTone()
{
    m_fail->play();
}

} // namespace quobin
