// Progress of a long computation, reported to whatever shows it (a progress bar, nothing).
#pragma once

namespace vornax {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void setMaximum(int maximum) = 0;
    virtual void step(int steps = 1) = 0;
    /// True once the computation should stop: long computations ask between their stages
    /// and end early with a "cancelled" status.
    virtual bool isCancelled() const { return false; }
};

/// Counts the steps; used where nothing is shown and by tests.
class CountingProgress : public Progress {
public:
    void setMaximum(int maximum) override { m_maximum = maximum; }
    void step(int steps) override { m_value += steps; }
    int maximum() const { return m_maximum; }
    int value() const { return m_value; }

private:
    int m_maximum = 0;
    int m_value = 0;
};

/// One step on `progress`, when there is one.
inline void stepProgress(Progress* progress, int steps = 1)
{
    if (progress) progress->step(steps);
}

/// True when there is a `progress` and it asks to stop.
inline bool isCancelled(const Progress* progress) { return progress && progress->isCancelled(); }

} // namespace vornax
