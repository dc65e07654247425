#pragma once

namespace quobin {

// The station's cues for the ear: a short tone at a pass, a distinct one at
// a failure.
class Sounds {
public:
    virtual ~Sounds() = default;
    virtual void passTone() = 0;
    virtual void failTone() = 0;
};

} // namespace quobin
