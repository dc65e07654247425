#pragma once

#include "JobSupply.h"
#include "SlotWindow.h"
#include "StationObserver.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace quobin {
class Clock;
class SerialPlace;
class SerialPort;
struct UploadOutcome;
namespace records {
class RecordStore;
}
}

namespace quobin::station {

class BoardIdSource;
class BoardLogFactory;
class RecordKeeper;
class RunControl;
class StationJob;
struct StationSerials;

// A slot as the operator named it, and the path opened for it: a device, or
// a link to one (a comN link, a /dev/serial/by-id/ name) that is followed
// afresh at every open, so the slot follows its adapter when it comes back
// under another name; or a USB socket (a /dev/serial/by-path/ name), found
// again at every open, so the slot stays with the socket whichever adapter
// is in it.
struct SlotAddress {
    QString label;
    QString path;
};

// A fresh serial port that opens the given device.
using PortFactory = std::function<std::unique_ptr<SerialPort>(const QString &device)>;

// What the slots of one station share.
struct SlotServices {
    const StationJob &job;
    records::RecordStore &store;
    RecordKeeper &keeper; // commits to store, holds what it refuses
    StationObserver &observer;
    RunControl &control;
    PortFactory openPort;
    BoardLogFactory *logs = nullptr; // no byte logs without one
    ErrorPolicy policy = ErrorPolicy::Stop;
    QString stationName;
    QString quobinVersion;
    const StationSerials *serials = nullptr; // no serial numbers without
    // An approved job read afresh for every board; without it every board
    // gets job, with policy.
    JobSupply *jobs = nullptr;
    // Where board IDs come from when the job asks for them.
    BoardIdSource *boardIds = nullptr;
};

// The board loop on one port: wait for a board's "^", flash it with the
// engine, commit its record, show its result, wait for the next. The
// main-code command goes out when the slot starts and when its device
// (re)appears, never right after a board: a board just flashed and still in
// the fixture is not sent back into its bootloader. run() blocks until the
// station ends; everything of the slot lives on the thread that calls it.
class Slot {
public:
    Slot(int index, SlotAddress address, SlotServices services, Clock &clock);

    void run();

private:
    struct Attempt;

    QString resolveDevice() const;
    void show(SlotState state, const QString &text);
    bool pause(int msecs);
    bool ending() const;
    Attempt attemptBoard(const QString &device, bool sendMainCodeCommand, std::optional<quint64> serialNumber);
    void record(const QString &device, const Attempt &attempt, std::optional<quint64> serial);
    // The serial number for the next board; nothing while there is none
    // (the slot has shown why and waited), or when the station ends.
    std::optional<quint64> takeSerial(bool &stop);
    // The job for the next board into m_board; false while there is none
    // (the slot has shown why and waited), or when the station ends.
    bool takeJob(bool &stop);
    // The next board's ID into m_boardId when the job asks for one: waits
    // for an ID that the rule and the records allow. False while there is
    // none (a new version of the job came, or the station ends: then stop).
    bool takeBoardId(bool &stop);
    // Why id may not be flashed, empty when it may; sets m_reflash.
    QString refusalOf(const QString &id);
    void dropBoardId();
    void endSerial(std::optional<quint64> serial, bool passed);
    void spendSerial(std::optional<quint64> serial, bool passed);
    void showSerials();
    // Where the serial goes in the board's image.
    const SerialPlace &serialPlace() const;
    int quietMsecsNeeded() const;
    void awaitQuietLine(const QString &device);
    bool keep(const records::BoardRecord &record);

    const int m_index;
    const SlotAddress m_address;
    SlotServices m_services;
    Clock &m_clock;
    // What the board in progress, or the next, is flashed from.
    BoardJob m_board;
    SlotState m_shown = SlotState::Stopped;
    // The device has been opened at least once in this run.
    bool m_opened = false;
    // No-responses in a row on this slot: each asks the line to stay quiet
    // longer before the next "^" counts as a new board.
    int m_noResponses = 0;
    QString m_shownText;
    QString m_describedDevice;
    QString m_usbSerial;
    QString m_byIdName;
    QString m_socket;
    std::optional<quint64> m_lastSerial;
    // The next board's ID, taken and claimed, until its board is recorded;
    // empty when the job asks for none.
    QString m_boardId;
    bool m_reflash = false;
    // The byte logs could not be written at the last board: warned once.
    bool m_logTroubleWarned = false;
};

} // namespace quobin::station
