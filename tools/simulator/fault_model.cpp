#include "tools/simulator/fault_model.h"

namespace device::sim {

FaultModel::FaultModel(std::unique_ptr<Model> inner, unsigned seed) : m_inner(std::move(inner)), m_random(seed) {}

void FaultModel::attach(SimulatedDevice& device, const Endpoint& server) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outlet = [&device, server](const std::string& text, std::chrono::milliseconds delay) {
        device.sendAfter(text, server, delay);
    };
}

void FaultModel::setRates(const FaultRates& rates) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rates = rates;
}

void FaultModel::setPacketCorruption(double rate) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packetCorruption = rate;
}

void FaultModel::script(std::initializer_list<Fault> faults, const std::string& prefix) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Fault fault : faults) m_script.emplace_back(prefix, fault);
}

void FaultModel::setDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_delay = delay;
}

void FaultModel::silence() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = true;
}

void FaultModel::speak() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_silent = false;
}

void FaultModel::restart() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held.reset();
    m_inner->restart();
}

unsigned FaultModel::count(Fault fault) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts[static_cast<std::size_t>(fault)];
}

std::string FaultModel::statePacket() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_silent) return std::string();
    const std::string packet = m_inner->statePacket();
    if (m_packetCorruption <= 0 || !std::bernoulli_distribution(m_packetCorruption)(m_random)) return packet;
    const Fault kinds[] = {Fault::Flip, Fault::Truncate, Fault::Garbage};
    const Fault fault = kinds[std::uniform_int_distribution<int>(0, 2)(m_random)];
    ++m_counts[static_cast<std::size_t>(fault)];
    return corrupt(fault, packet);
}

Fault FaultModel::nextFault(const std::string& request) {
    for (auto it = m_script.begin(); it != m_script.end(); ++it) {
        if (request.compare(0, it->first.size(), it->first) != 0) continue;
        const Fault fault = it->second;
        m_script.erase(it);
        return fault;
    }
    double draw = std::uniform_real_distribution<double>(0, 1)(m_random);
    const std::pair<double, Fault> chances[] = {
        {m_rates.drop, Fault::Drop},
        {m_rates.delay, Fault::Delay},
        {m_rates.duplicate, Fault::Duplicate},
        {m_rates.reorder, Fault::Reorder},
        {m_rates.corrupt / 3, Fault::Flip},
        {m_rates.corrupt / 3, Fault::Truncate},
        {m_rates.corrupt / 3, Fault::Garbage},
    };
    for (const auto& chance : chances) {
        if (draw < chance.first) return chance.second;
        draw -= chance.first;
    }
    return Fault::None;
}

std::string FaultModel::flipped(const std::string& text, std::mt19937& random) {
    if (text.empty()) return text;
    std::string out = text;
    const auto at = std::uniform_int_distribution<std::size_t>(0, out.size() - 1)(random);
    out[at] = static_cast<char>(out[at] ^ (1 << std::uniform_int_distribution<int>(0, 7)(random)));
    return out;
}

std::string FaultModel::truncated(const std::string& text, std::mt19937& random) {
    if (text.empty()) return text;
    return text.substr(0, std::uniform_int_distribution<std::size_t>(0, text.size() - 1)(random));
}

std::string FaultModel::garbage(std::mt19937& random) {
    std::string out(std::uniform_int_distribution<std::size_t>(1, 300)(random), '\0');
    for (char& c : out) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
    return out;
}

std::string FaultModel::corrupt(Fault fault, const std::string& text) const {
    switch (fault) {
        case Fault::Flip: return flipped(text, m_random);
        case Fault::Truncate: return truncated(text, m_random);
        case Fault::Garbage: return garbage(m_random);
        default: return text;
    }
}

void FaultModel::deliverLater(const std::string& text, std::chrono::milliseconds delay) {
    if (m_outlet) m_outlet(text, delay);
}

std::optional<std::string> FaultModel::answer(const std::string& request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_silent) return std::nullopt;
    std::optional<std::string> reply = m_inner->answer(request);
    if (!reply) return reply;  // the device itself stays silent: nothing to spoil
    // A reply held back earlier follows this one out.
    if (m_held) {
        deliverLater(*m_held, std::chrono::milliseconds(0));
        m_held.reset();
    }
    const Fault fault = nextFault(request);
    ++m_counts[static_cast<std::size_t>(fault)];
    switch (fault) {
        case Fault::None: return reply;
        case Fault::Drop: return std::nullopt;
        case Fault::Delay: deliverLater(*reply, m_delay); return std::nullopt;
        case Fault::Duplicate: deliverLater(*reply, m_delay); return reply;
        case Fault::Reorder: m_held = reply; return std::nullopt;
        default: return corrupt(fault, *reply);
    }
}

}  // namespace device::sim
