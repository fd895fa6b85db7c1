#pragma once

#include <atomic>
#include <string>

#include "tools/simulator/model.h"

namespace device::sim {

/// Two loudspeakers behind one socket (a misconfigured network: two devices
/// given the same address and port): the state packets alternate between
/// the two hardware addresses; requests are answered as one loudspeaker.
class TwinOrvelModel : public OrvelModel {
public:
    TwinOrvelModel(std::string hardwareAddress, std::string secondHardwareAddress,
                   std::string versionText = kDefaultOrvelVersion);

    std::string statePacket() const override;

private:
    std::string m_second;
    mutable std::atomic<unsigned> m_sent{0};
};

}  // namespace device::sim
