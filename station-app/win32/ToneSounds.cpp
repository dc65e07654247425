#include "ToneSounds.h"
#include "WavTone.h"

#include <QByteArray>

#include <windows.h>
#include <mmsystem.h>

namespace quobin {

// The tones as WAV data made in memory at start, kept for as long as a tone
// may play from it.
class ToneSounds::Player {
public:
    Player() : m_pass(wavTone(passNotes())), m_fail(wavTone(failNotes())) {}

    ~Player()
    {
        // Stops a tone still playing before its data goes.
        PlaySoundW(nullptr, nullptr, 0);
    }

    // Asynchronous: the window goes on at once, and a tone cuts off the one
    // before it, as the next board's result should.
    static void play(const QByteArray &wav)
    {
        PlaySoundW(reinterpret_cast<LPCWSTR>(wav.constData()), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
    }

    QByteArray m_pass;
    QByteArray m_fail;
};

ToneSounds::ToneSounds() : m_player(std::make_unique<Player>()) {}

ToneSounds::~ToneSounds() = default;

void ToneSounds::passTone()
{
    Player::play(m_player->m_pass);
}

void ToneSounds::failTone()
{
    Player::play(m_player->m_fail);
}

} // namespace quobin
