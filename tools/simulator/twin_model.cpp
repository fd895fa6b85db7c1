#include "tools/simulator/twin_model.h"

namespace device::sim {

TwinOrvelModel::TwinOrvelModel(std::string hardwareAddress, std::string secondHardwareAddress,
                               std::string versionText)
    : OrvelModel(std::move(hardwareAddress), std::move(versionText)), m_second(std::move(secondHardwareAddress)) {}

std::string TwinOrvelModel::statePacket() const {
    const std::string own = OrvelModel::statePacket();
    if (m_sent++ % 2 == 0) return own;
    return m_second + own.substr(hardwareAddress().size());
}

}  // namespace device::sim
