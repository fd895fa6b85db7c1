#include "audio/own_notices.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <boost/thread/thread.hpp>

#include "device/models/orvel_info.h"

namespace frm {

namespace {

/// The answers, shared with the requests' completions, which may come after
/// the caller stopped waiting.
struct Answers {
    std::mutex mutex;  // guards what follows
    std::condition_variable changed;
    std::size_t pending = 0;
    DeviceSet playing;
};

}  // namespace

DeviceSet playingOnTheirOwn(const DeviceSet& speakers, std::chrono::steady_clock::time_point until) {
    const auto answers = std::make_shared<Answers>();
    answers->pending = speakers.size();
    for (const auto& speaker : speakers) {
        // The first call counts: a reply after the give-up comes once more.
        const auto counted = std::make_shared<std::atomic<bool>>(false);
        speaker->internalPlayingAsync([answers, speaker, counted](const device::RequestOutcome&, bool playing) {
            if (counted->exchange(true)) return;
            std::lock_guard<std::mutex> lock(answers->mutex);
            if (playing) answers->playing.insert(speaker);
            --answers->pending;
            answers->changed.notify_all();
        });
    }
    std::unique_lock<std::mutex> lock(answers->mutex);
    while (answers->pending > 0) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) break;
        // In slices: the boost thread's interruption is looked at between them.
        answers->changed.wait_until(lock, std::min(until, now + std::chrono::milliseconds(50)));
        lock.unlock();
        boost::this_thread::interruption_point();
        lock.lock();
    }
    return answers->playing;
}

std::chrono::milliseconds longestAnswer(const DeviceSet& speakers) {
    device::ReplyTimes longest;
    for (const auto& speaker : speakers) {
        const device::ReplyTimes times = speaker->replyTimes();
        if (times.giveUp > longest.giveUp) longest = times;
    }
    return longest.giveUp + longest.resend / 10;
}

}  // namespace frm
