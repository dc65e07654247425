#pragma once

#include "Sounds.h"

#include <memory>

namespace quobin {

// Plays the station's tones through the system's own sound output: Qt
// Multimedia on Linux (ToneSounds.cpp), the Win32 sound API on Windows
// (win32/ToneSounds.cpp). Where there is no audio output the tones are
// simply not heard. One declaration for every system: what a system needs
// to play lives in its Player, so every file that includes this header
// sees the same object.
class ToneSounds : public Sounds {
public:
    ToneSounds();
    ~ToneSounds() override;
    ToneSounds(const ToneSounds &) = delete;
    ToneSounds &operator=(const ToneSounds &) = delete;

    void passTone() override;
    void failTone() override;

private:
    class Player;
    std::unique_ptr<Player> m_player;
};

} // namespace quobin
