#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/any.hpp>

#include "scheduler/clock.h"
#include "scheduler/time_point.h"

namespace scheduler::task {

/// What a due task starts (in the program: start or stop a playback).
using Event = std::function<void()>;

/// Hands a due task's event over to be run elsewhere: in the program the
/// process-wide job dispatcher, in tests a queue. It must not run the job on
/// the calling thread, which is the scheduler thread holding the core's lock.
using Dispatch = std::function<void(const std::wstring& description, Event job)>;

/// The world a task sees: the time that setDateTime measures against and
/// where its event goes.
struct Environment {
    std::shared_ptr<Clock> clock;
    Dispatch dispatch;
};

/// The system clock and the process-wide job dispatcher.
Environment systemEnvironment();

class ITask {
public:
    virtual ~ITask() = default;
    virtual std::uint32_t getId() const = 0;
    /// Scheduler thread, once a minute: starts the event when the task is due.
    virtual void run(TimePoint now) = 0;
    /// After a clock jump: brings the next run up to `now` as the kind requires.
    virtual void reinit(TimePoint now) = 0;
    /// Any thread; does not take the task's lock.
    virtual void enable(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    virtual bool checkCondition(TimePoint now) = 0;
    /// Moves the next run on after a run.
    virtual void advance(TimePoint now) = 0;
};

/// The common part of both kinds. A task runs when `now` lies within
/// [next run, next run + 59 s] and within [start, end]; the scheduler thread
/// calls run() at 1 ms past every full minute.
class BaseTask : public ITask {
public:
    std::uint32_t getId() const override { return m_id; }
    void run(TimePoint now) override;
    void enable(bool enabled) override;
    bool isEnabled() const override { return m_enabled.load(); }
    bool checkCondition(TimePoint) override { return true; }

    /// Local date and time texts; an empty final date means no end. The task
    /// then ends after the last minute of its final date. Bad texts throw
    /// exception::IncorrectFormat and leave the task as it was.
    void setDateTime(const std::wstring& startDate, const std::wstring& startTime,
                     const std::wstring& finalDate);
    void setEvent(Event event);
    /// The owner's payload (the scheduler page keeps its task record there).
    void setClientData(boost::any data);
    boost::any getClientData() const;
    void setTitle(const std::wstring& title);
    std::wstring getTitle() const;

    TimePoint getNextRun() const;
    TimePoint getStart() const;
    TimePoint getEnd() const;

protected:
    BaseTask(std::uint32_t id, Event event, Environment environment);

    /// Guards the times, the event, the client data and the title.
    mutable std::recursive_mutex m_lock;
    TimePoint m_nextRun = 0;
    TimePoint m_start = 0;
    TimePoint m_end = kNoEnd;
    /// The start as entered, to find the same wall-clock minute on later days.
    LocalDateTime m_startLocal;

private:
    /// setDateTime has put the next run back to the start.
    virtual void restartSchedule() {}

    const std::uint32_t m_id;
    Event m_event;
    boost::any m_clientData;
    std::wstring m_title;
    std::atomic<bool> m_enabled{true};
    const Environment m_environment;
};

/// Runs once at its start minute.
class Once : public BaseTask {
public:
    Once(std::uint32_t id, const std::wstring& startDate, const std::wstring& startTime,
         Event event, Environment environment = systemEnvironment());

    /// A missed minute stays missed.
    void reinit(TimePoint now) override;
    /// Closes the window: end := start.
    void advance(TimePoint now) override;
};

/// Runs every day at its minute (local wall-clock time, also across a change
/// of summer time) from the start date to the final date.
class Daily : public BaseTask {
public:
    Daily(std::uint32_t id, const std::wstring& startDate, const std::wstring& startTime,
          const std::wstring& finalDate, Event event, Environment environment = systemEnvironment());

    /// Skips whole periods until the next run is not before now.
    void reinit(TimePoint now) override;
    /// The same minute one period later.
    void advance(TimePoint now) override;

private:
    void restartSchedule() override { m_day = 0; }
    void moveToDay(std::int64_t day);

    const int m_period = 1;  // in days
    std::int64_t m_day = 0;  // days from the start date to the next run
};

}  // namespace scheduler::task
