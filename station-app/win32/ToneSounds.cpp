#include "ToneSounds.h"
#include "WavTone.h"

#include <windows.h>
#include <mmsystem.h>

namespace quobin {

ToneSounds::ToneSounds() : m_pass(wavTone(passNotes())), m_fail(wavTone(failNotes())) {}

ToneSounds::~ToneSounds()
{
    // Stops a tone still playing before its data goes.
    PlaySoundW(nullptr, nullptr, 0);
}

void ToneSounds::passTone()
{
    play(m_pass);
}

void ToneSounds::failTone()
{
    play(m_fail);
}

// Asynchronous: the window goes on at once, and a tone cuts off the one
// before it, as the next board's result should.
void ToneSounds::play(const QByteArray &wav)
{
    PlaySoundW(reinterpret_cast<LPCWSTR>(wav.constData()), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
}

} // namespace quobin
