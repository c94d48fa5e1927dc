// The right to change the mode selection of one network.
//
// The mode selection (the network's modeArray, amountSelected, modeSelectState and each
// node's modeStateArray) is read by every simulation step. It may change only while no step
// runs: the window thread takes the mode-change handshake first and lets it go when done.
// A ModeChangeToken is that handshake held; every operation that writes the selection asks
// for one, so a change cannot forget it.
//
//     if (auto token = eln.tryBeginModeChange()) {   // window: skip while a step runs
//         eln.useAllModes(*token, false);
//         eln.selectAmountOfModes(*token, n);
//         eln.selectModeState(*token, 1);
//     }                                               // released here: the next step runs
//
//     const ModeChangeToken token = eln.beginModeChange();   // waits for the running step
#pragma once

#include <cstdint>

namespace vornax {

class ElasticNetworkModel;

class ModeChangeToken {
public:
    ModeChangeToken(ModeChangeToken&& other) noexcept : network(other.network), bit(other.bit)
    {
        other.network = nullptr;
    }
    ModeChangeToken& operator=(ModeChangeToken&& other) noexcept
    {
        if (this != &other) {
            release();
            network = other.network;
            bit = other.bit;
            other.network = nullptr;
        }
        return *this;
    }
    ModeChangeToken(const ModeChangeToken&) = delete;
    ModeChangeToken& operator=(const ModeChangeToken&) = delete;
    ~ModeChangeToken() { release(); }

    /// Ends the mode change now (the destructor does it otherwise); the token then holds nothing.
    void release();
    /// True while it holds the handshake of `eln`.
    bool holds(const ElasticNetworkModel& eln) const { return network == &eln; }

private:
    friend class ElasticNetworkModel;
    ModeChangeToken(ElasticNetworkModel* eln, uint32_t heldBit) : network(eln), bit(heldBit) {}

    ElasticNetworkModel* network = nullptr;
    uint32_t bit = 0;
};

} // namespace vornax
