#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace quobin {
class FirmwareImage;
}

namespace quobin::station {

// The image a station flashes: the file read and checked once, at start.
// Every board gets exactly these bytes, whatever happens to the file later.
class StationJob {
public:
    // Throws FirmwareFileError when the file cannot be read.
    static StationJob read(const QString &path);
    explicit StationJob(std::shared_ptr<const FirmwareImage> image);

    const std::shared_ptr<const FirmwareImage> &image() const { return m_image; }
    QString path() const;
    QString fileName() const;
    QString sha256() const;
    // Lines that carry something: the ones that go over the wire.
    int linesToSend() const { return m_linesToSend; }

private:
    std::shared_ptr<const FirmwareImage> m_image;
    int m_linesToSend = 0;
};

// Watches the job's file on disk. The station goes on with the bytes it
// read; the operator hears once that the file is no longer what is flashed.
class JobFileWatch {
public:
    explicit JobFileWatch(const StationJob &job);

    // A warning the first time the file has changed or gone, else empty.
    QString check();

private:
    const StationJob &m_job;
    qint64 m_size = -1;
    qint64 m_modified = 0;
    bool m_warned = false;
};

} // namespace quobin::station
