#pragma once

#include <QByteArray>
#include <QList>

namespace quobin {

// One note of a tone: a frequency (0 for a rest) held for a time.
struct Note {
    int hertz = 0;
    int msecs = 0;
};

// A mono 16-bit PCM WAV file of these notes at sampleRate, each note faded in
// and out over a few milliseconds so that it does not click.
QByteArray wavTone(const QList<Note> &notes, int sampleRate = 22050);

// The pass tone: one short high note. The failure tone: three low notes.
QList<Note> passNotes();
QList<Note> failNotes();

} // namespace quobin
