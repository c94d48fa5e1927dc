// The right to change the mode selection of one network.
//
// The mode selection (the network's modeArray, amountSelected, modeSelectState and each
// node's modeStateArray) is read by every simulation step. It may change only while no step
// runs: the window thread takes the mode-change handshake first and lets it go when done.
// A ModeChangeToken is that handshake held (the network's Deformation keeps it); every
// operation that writes the selection asks for one, so a change cannot forget it.
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

class Deformation;

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
    /// True while it holds the handshake of `deformation`.
    bool holds(const Deformation& deformation) const { return network == &deformation; }

private:
    friend class Deformation;
    ModeChangeToken(Deformation* deformation, uint32_t heldBit) : network(deformation), bit(heldBit) {}

    Deformation* network = nullptr;
    uint32_t bit = 0;
};

} // namespace vornax
