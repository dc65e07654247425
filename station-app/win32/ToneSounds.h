#pragma once

#include "Sounds.h"

#include <QByteArray>

namespace quobin {

// Plays the tones through the Win32 sound API, from WAV data made in memory
// at start. Where there is no audio output the tones are simply not heard.
class ToneSounds : public Sounds {
public:
    ToneSounds();
    ~ToneSounds() override;

    void passTone() override;
    void failTone() override;

private:
    void play(const QByteArray &wav);

    // Kept for as long as a tone may play from it.
    QByteArray m_pass;
    QByteArray m_fail;
};

} // namespace quobin
