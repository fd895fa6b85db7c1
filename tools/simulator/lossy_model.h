#pragma once

#include <memory>
#include <mutex>
#include <random>

#include "tools/simulator/model.h"

namespace device::sim {

/// Puts a lossy network in front of a model: each request is lost on its way
/// in with probability `loss` (the model never sees it), and each reply on its
/// way out with the same probability (the model did act on the request). The
/// generator is seeded, so a run can be repeated.
class LossyModel : public Model {
public:
    LossyModel(std::unique_ptr<Model> inner, double loss, unsigned seed);

    Model& inner() { return *m_inner; }
    void setLoss(double loss);

    std::string statePacket() const override { return m_inner->statePacket(); }
    std::optional<std::string> answer(const std::string& request) override;
    Holdings holdings() const override { return m_inner->holdings(); }
    void restart() override { m_inner->restart(); }

private:
    bool lost();

    std::unique_ptr<Model> m_inner;
    std::mutex m_mutex;  // guards the generator and the rate
    std::mt19937 m_random;
    std::bernoulli_distribution m_lost;
};

}  // namespace device::sim
