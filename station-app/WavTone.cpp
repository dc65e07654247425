#include "WavTone.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quobin {

namespace {

void appendLE16(QByteArray &out, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    out.append(bytes, 2);
}

void appendLE32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

} // namespace

QByteArray wavTone(const QList<Note> &notes, int sampleRate)
{
    QByteArray samples;
    const int fade = sampleRate * 5 / 1000;
    for (const Note &note : notes) {
        const int count = int(qint64(sampleRate) * note.msecs / 1000);
        for (int i = 0; i < count; ++i) {
            double value = 0;
            if (note.hertz > 0) {
                const double envelope = std::min({1.0, double(i) / fade, double(count - i) / fade});
                value = 0.5 * envelope * std::sin(2 * std::numbers::pi * note.hertz * i / sampleRate);
            }
            appendLE16(samples, quint16(qint16(std::lround(value * 32767))));
        }
    }
    QByteArray wav("RIFF");
    appendLE32(wav, quint32(36 + samples.size()));
    wav += "WAVEfmt ";
    appendLE32(wav, 16);          // the format chunk's size
    appendLE16(wav, 1);           // PCM
    appendLE16(wav, 1);           // mono
    appendLE32(wav, quint32(sampleRate));
    appendLE32(wav, quint32(sampleRate * 2));  // bytes per second
    appendLE16(wav, 2);           // bytes per frame
    appendLE16(wav, 16);          // bits per sample
    wav += "data";
    appendLE32(wav, quint32(samples.size()));
    wav += samples;
    return wav;
}

QList<Note> passNotes()
{
    return {{1320, 120}};
}

QList<Note> failNotes()
{
    return {{330, 160}, {0, 60}, {330, 160}, {0, 60}, {262, 300}};
}

} // namespace quobin
