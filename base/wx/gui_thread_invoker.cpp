#include "base/wx/gui_thread_invoker.h"

#include <unistd.h>

#include <boost/exception/diagnostic_information.hpp>
#include <chrono>
#include <memory>

#include "base/dbg.h"
#include "base/exception.h"
#include "base/log.h"

namespace {

// The one invoker. Its lock is never held while logging: a WARN reaches the
// log's observer, which asks exists() and add().
std::mutex g_instanceMutex;
GuiThreadInvoker* g_instance = nullptr;

/// The pause before the first posting, as the main window finishes building.
constexpr auto kStartPause = std::chrono::seconds(1);

}  // namespace

GuiThreadInvoker::GuiThreadInvoker(wxWindow* window) : wxThread(wxTHREAD_JOINABLE), m_window(window) {}

void GuiThreadInvoker::createInstance(wxWindow* window) {
    bool again = false;
    const char* failure = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        again = g_instance != nullptr;
        if (!again) {
            auto* invoker = new GuiThreadInvoker(window);
            if (invoker->Create() != wxTHREAD_NO_ERROR)
                failure = "Couldn't create thread!";
            else if (invoker->Run() != wxTHREAD_NO_ERROR)
                failure = "Couldn't run thread!";
            else
                g_instance = invoker;
        }
    }
    if (again) dbg_puts(WARN, "recall GuiThreadInvoker::createInstance");
    if (failure != nullptr) dbg_abort(failure, "GuiThreadInvoker::createInstance");
}

void GuiThreadInvoker::add(Task task) {
    {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        if (g_instance != nullptr) {
            std::lock_guard<std::mutex> queueLock(g_instance->m_mutex);
            if (!g_instance->m_stopRequested) {
                g_instance->m_queue.push_back(std::move(task));
                g_instance->m_wake.notify_all();
                return;
            }
        }
    }
    LOG_DEBUG(L"skip adding task for gui thread invoker");
}

std::deque<GuiThreadInvoker::Task> GuiThreadInvoker::requestStop() {
    std::deque<Task> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopRequested = true;
    dropped.swap(m_queue);
    m_wake.notify_all();
    return dropped;
}

void GuiThreadInvoker::stop() {
    // The dropped tasks are destroyed at the end, outside every lock: their
    // destructors may release objects that log or add tasks of their own.
    std::deque<Task> dropped;
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instance != nullptr) dropped = g_instance->requestStop();
}

void GuiThreadInvoker::destroyInstance() {
    LOG_TRACE2(L"GuiThreadInvoker::destroyInstance(). Begin.");
    GuiThreadInvoker* invoker = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_instanceMutex);
        invoker = g_instance;
        g_instance = nullptr;
    }
    if (invoker != nullptr) {
        invoker->requestStop().clear();
        invoker->Wait(wxTHREAD_WAIT_BLOCK);
        delete invoker;
    }
    LOG_TRACE3(L"GuiThreadInvoker::destroyInstance(). End.");
}

bool GuiThreadInvoker::exists() {
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    return g_instance != nullptr;
}

bool GuiThreadInvoker::isActive() {
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    if (g_instance == nullptr) return false;
    std::lock_guard<std::mutex> queueLock(g_instance->m_mutex);
    return !g_instance->m_stopRequested;
}

namespace {

/// The event that carries one task to the GUI thread. It owns the task, so a
/// task whose event is never run (the invoker gone when it arrives, or the
/// window destroyed with the event still pending) is destroyed with the
/// event, and so is everything it captured. The toolkit queues a clone: the
/// clones share the task, which runs at most once.
class TaskEvent : public wxCommandEvent {
public:
    explicit TaskEvent(GuiThreadInvoker::Task task)
        : wxCommandEvent(wxEVT_TEXT, kGuiInvokerEventId),
          m_task(std::make_shared<std::unique_ptr<GuiThreadInvoker::Task>>(
              std::make_unique<GuiThreadInvoker::Task>(std::move(task)))) {}
    wxEvent* Clone() const override { return new TaskEvent(*this); }
    /// The task, once; null afterwards.
    std::unique_ptr<GuiThreadInvoker::Task> take() { return std::move(*m_task); }

private:
    std::shared_ptr<std::unique_ptr<GuiThreadInvoker::Task>> m_task;
};

}  // namespace

wxThread::ExitCode GuiThreadInvoker::Entry() {
    LOG_TRACE2(L"gui thread invoker: %1%", static_cast<unsigned long>(GetCurrentId()));
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_wake.wait_for(lock, kStartPause, [this] { return m_stopRequested; });
        for (;;) {
            // Tasks added during the pause or while a batch was posted are
            // in the queue already: the predicate sees them without a wake.
            m_wake.wait(lock, [this] { return m_stopRequested || !m_queue.empty(); });
            if (m_stopRequested) break;
            while (!m_queue.empty()) {
                // Posting is thread-safe and never waits for the GUI thread.
                TaskEvent event(std::move(m_queue.front()));
                m_queue.pop_front();
                m_window->GetEventHandler()->AddPendingEvent(event);
            }
        }
    }
    LOG_TRACE2(L"gui thread invoker: end");
    return nullptr;
}

/// Inside a catch: logs the exception in flight as the invoker's own.
void GuiThreadInvoker::logTaskException() {
    try {
        throw;
    } catch (const exception::Offline&) {
        LOG_NOTICE(L"Устройство не в сети.");
    } catch (const exception::InternalError& e) {
        // The notification is shown as it is, the details translated.
        if (e.getDetails().empty())
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'", e.getNotification().c_str());
        else
            LOG_ERROR(L"Произошла внутренняя ошибка.\nСообщение: '%1%'\nОписание: '%2%'",
                      e.getNotification().c_str(), e.getDetails());
    } catch (const exception::ExternalError& e) {
        if (e.getDetails().empty())
            LOG_NOTICE(L"Сообщение: '%1%'", e.getNotification());
        else
            LOG_NOTICE(L"Сообщение: '%1%'\nОписание: '%2%'", e.getNotification(), e.getDetails());
    } catch (const exception::StopProgram&) {
        base::flushLog();
        ::_exit(1);
    } catch (const std::exception& e) {
        dbg_puts(ERROR, "caught std exception: %s, %s", e.what(),
                 boost::current_exception_diagnostic_information().c_str());
    } catch (...) {
        dbg_puts(ERROR, "caught unknown exception: %s", boost::current_exception_diagnostic_information().c_str());
    }
}

void GuiThreadInvoker::execute(wxCommandEvent& event) {
    auto* carrier = dynamic_cast<TaskEvent*>(&event);
    std::unique_ptr<Task> task = carrier != nullptr ? carrier->take() : nullptr;
    if (!task || task->empty()) {
        dbg_puts(WARN, "internal error, don't set function");
    } else {
        try {
            (*task)();
        } catch (...) {
            logTaskException();
        }
    }
    base::flushLog();
}

