#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "audio/mp3stream.h"

/// libvlc's input thread as the tests need it: takes what the stream's ring
/// holds as fast as it fills, until stopped.
class RingDrain {
public:
    explicit RingDrain(mp3stream& stream)
        : m_thread([this, &stream] {
              while (!m_done) {
                  std::int64_t dts, pts;
                  unsigned flags;
                  std::size_t size;
                  void* buffer;
                  mp3stream::imem_get(&stream, "", &dts, &pts, &flags, &size, &buffer);
                  mp3stream::imem_release(&stream, "", size, buffer);
                  std::this_thread::sleep_for(std::chrono::microseconds(200));
              }
          }) {}
    ~RingDrain() { stop(); }
    RingDrain(const RingDrain&) = delete;
    RingDrain& operator=(const RingDrain&) = delete;

    void stop() {
        m_done = true;
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
