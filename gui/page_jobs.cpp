#include "gui/page_jobs.h"

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"

namespace frm {
namespace page_jobs {

bool RefreshGate::tryEnter() {
    if (m_held.load()) return false;
    bool idle = false;
    if (!m_reading.compare_exchange_strong(idle, true)) return false;
    // A press between the two checks: the rows stay as they are.
    if (m_held.load()) {
        m_reading = false;
        return false;
    }
    return true;
}

void RefreshGate::leave() { m_reading = false; }

void RefreshGate::hold(bool held) { m_held = held; }

void refreshTipDevices(const std::shared_ptr<RefreshGate>& gate,
                       const boost::shared_ptr<device::OrvelInfo>& loudspeaker, bool withVersion,
                       const HandOver& handOver,
                       std::function<void(std::optional<line_control::Snapshot>)> deliver) {
    std::optional<line_control::Snapshot> snapshot;
    if (!gate->tryEnter()) {
        LOG_DEBUG(L"%1%", L"Skip refreshing of the tip devices, because set a blocking.");
    } else {
        const std::uint64_t sequence = gate->startRead();
        try {
            snapshot = line_control::read(*loudspeaker, withVersion);
            if (!snapshot->refusal.empty())
                LOG_INFO(L"The line control of device id=%1% is not read: %2%", loudspeaker->getId(),
                         snapshot->refusal);
        } catch (const exception::Base& e) {
            LOG_INFO(L"The line control of device id=%1% is not read: %2%", loudspeaker->getId(),
                     base::toWide(e.what()));
            snapshot = line_control::Snapshot();
            snapshot->available = line_control::isAvailable(*loudspeaker);
        }
        snapshot->sequence = sequence;
        gate->leave();
    }
    handOver([deliver = std::move(deliver), snapshot = std::move(snapshot)]() mutable {
        deliver(std::move(snapshot));
    });
}

void pollPasskeyListening(const boost::shared_ptr<device::TovikInfo>& console, const HandOver& handOver,
                          std::function<void(bool listening)> deliver) {
    bool listening = false;
    try {
        listening = console->isPasskeyListening();
    } catch (const exception::Base& e) {
        LOG_INFO(L"The console id=%1% is not asked for its key learning: %2%", console->getId(),
                 base::toWide(e.what()));
    }
    handOver([deliver = std::move(deliver), listening] { deliver(listening); });
}

}  // namespace page_jobs
}  // namespace frm
