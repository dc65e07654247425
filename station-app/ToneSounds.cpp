#include "ToneSounds.h"
#include "WavTone.h"

#include <QFile>
#include <QSoundEffect>
#include <QTemporaryDir>
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

// The tones as WAV files in a temporary folder of its own, written at start.
class ToneSounds::Player {
public:
    Player()
        : m_pass(loadTone(m_folder, QStringLiteral("pass.wav"), passNotes())),
          m_fail(loadTone(m_folder, QStringLiteral("fail.wav"), failNotes()))
    {
    }

    QTemporaryDir m_folder;
    std::unique_ptr<QSoundEffect> m_pass;
    std::unique_ptr<QSoundEffect> m_fail;
};

ToneSounds::ToneSounds() : m_player(std::make_unique<Player>()) {}

ToneSounds::~ToneSounds() = default;

void ToneSounds::passTone()
{
    m_player->m_pass->play();
}

void ToneSounds::failTone()
{
    m_player->m_fail->play();
}

} // namespace quobin
