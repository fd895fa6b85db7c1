#include "gui/page_jobs.h"

#include "base/exception.h"
#include "base/log.h"
#include "base/text.h"
#include "device/models/orvel_info.h"
#include "device/models/tovik_info.h"

namespace frm {
namespace page_jobs {

Worker::~Worker() { stop(); }

bool Worker::post(Task task) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) return false;
    m_queue.push_back(std::move(task));
    if (!m_thread.joinable()) m_thread = std::thread([this] { run(); });
    m_wake.notify_one();
    return true;
}

void Worker::stop() {
    std::deque<Task> dropped;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        dropped.swap(m_queue);
        thread = std::move(m_thread);
        m_wake.notify_one();
    }
    if (!dropped.empty()) LOG_DEBUG(L"the property panel drops %1% tasks at its stop", dropped.size());
    // What the tasks captured goes here, outside the lock.
    dropped.clear();
    if (thread.joinable()) thread.join();
}

void Worker::run() {
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            task = std::move(m_queue.front());
            m_queue.pop_front();
        }
        // A task hands its outcome over and never throws on purpose; what
        // does escape ends this task only.
        try {
            task();
        } catch (const std::exception& e) {
            LOG_ERROR(L"Задание панели свойств прервано: %1%", std::string(e.what()));
        } catch (...) {
            LOG_ERROR(L"%1%", L"Задание панели свойств прервано неизвестным исключением");
        }
        task = nullptr;  // its captures go before the next task begins
    }
}

void reportFailure(const std::exception_ptr& error, const std::wstring& more) {
    if (!error) return;
    // A string view is the program's own wording to the log: shown whole,
    // neither quoted nor cut as a text from outside would be.
    const std::wstring_view rest(more);
    try {
        std::rethrow_exception(error);
    } catch (const Superseded&) {
    } catch (const exception::Offline&) {
        if (rest.empty())
            LOG_NOTICE(L"%1%", L"Устройство не в сети.");
        else
            LOG_NOTICE(L"Устройство не в сети.\n%1%", rest);
    } catch (const exception::InternalError& e) {
        if (e.getDetails().empty() && rest.empty())
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'", e.getNotification());
        else if (e.getDetails().empty())
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'\n%2%", e.getNotification(), rest);
        else if (rest.empty())
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'\nОписание: '%2%'", e.getNotification(),
                      e.getDetails());
        else
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'\nОписание: '%2%'\n%3%",
                      e.getNotification(), e.getDetails(), rest);
    } catch (const exception::ExternalError& e) {
        if (e.getDetails().empty() && rest.empty())
            LOG_NOTICE(L"Сообщение: '%1%'", e.getNotification());
        else if (e.getDetails().empty())
            LOG_NOTICE(L"Сообщение: '%1%'\n%2%", e.getNotification(), rest);
        else if (rest.empty())
            LOG_NOTICE(L"Сообщение: '%1%'\nОписание: '%2%'", e.getNotification(), e.getDetails());
        else
            LOG_NOTICE(L"Сообщение: '%1%'\nОписание: '%2%'\n%3%", e.getNotification(), e.getDetails(), rest);
    } catch (const std::exception& e) {
        if (rest.empty())
            LOG_ERROR(L"Получено исключение в задании панели свойств: '%1%'", std::string(e.what()));
        else
            LOG_ERROR(L"Получено исключение в задании панели свойств: '%1%'\n%2%", std::string(e.what()),
                      rest);
    } catch (...) {
        if (rest.empty())
            LOG_ERROR(L"%1%", L"Получено неизвестное исключение в задании панели свойств");
        else
            LOG_ERROR(L"Получено неизвестное исключение в задании панели свойств\n%1%", rest);
    }
}

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
