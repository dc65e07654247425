#pragma once

#include "Sounds.h"

#include <QTemporaryDir>

#include <memory>

class QSoundEffect;

namespace quobin {

// Plays the tones through Qt Multimedia, from WAV files it writes into a
// temporary folder of its own at start. Where there is no audio output the
// tones are simply not heard.
class ToneSounds : public Sounds {
public:
    ToneSounds();
    ~ToneSounds() override;

    void passTone() override;
    void failTone() override;

private:
    QTemporaryDir m_folder;
    std::unique_ptr<QSoundEffect> m_pass;
    std::unique_ptr<QSoundEffect> m_fail;
};

} // namespace quobin
