#include "tools/simulator/lossy_model.h"

namespace device::sim {

LossyModel::LossyModel(std::unique_ptr<Model> inner, double loss, unsigned seed)
    : m_inner(std::move(inner)), m_random(seed), m_lost(loss) {}

void LossyModel::setLoss(double loss) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lost = std::bernoulli_distribution(loss);
}

bool LossyModel::lost() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lost(m_random);
}

std::optional<std::string> LossyModel::answer(const std::string& request) {
    if (lost()) return std::nullopt;
    std::optional<std::string> reply = m_inner->answer(request);
    if (lost()) return std::nullopt;
    return reply;
}

}  // namespace device::sim
