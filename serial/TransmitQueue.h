#pragma once

#include <optional>

namespace quobin {

// The output of an open terminal device below the port's own buffer: what the
// driver still holds, whether the device has sent its last bit, and a way to
// drop what is left. Each call takes the open descriptor.
class TransmitQueue {
public:
    virtual ~TransmitQueue() = default;
    // Bytes the driver holds and has not yet handed to the device.
    virtual int queued(int fd) = 0;
    // Whether the device's transmitter has sent everything handed to it;
    // nothing when the device cannot tell (a pseudo-terminal, most USB
    // adapters). Some adapters answer but never report empty.
    virtual std::optional<bool> transmitterEmpty(int fd) = 0;
    // Discards what the driver holds, so that it never goes out.
    virtual void discard(int fd) = 0;
};

// The terminal device itself, through its ioctls.
class DeviceTransmitQueue : public TransmitQueue {
public:
    int queued(int fd) override;
    std::optional<bool> transmitterEmpty(int fd) override;
    void discard(int fd) override;
};

} // namespace quobin
