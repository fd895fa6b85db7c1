#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "audio/plugin_api.h"

class PlayerEngine;

/// The host window that plug-ins get as hMainWindow. Queries (IPC version,
/// directories, decompression function) are answered on the plug-in's own
/// thread; the end of a track and the title change are queued to the host's
/// thread (the GUI thread in the product, a pump in tests) and never block
/// the plug-in, so a Stop that joins the plug-in's thread cannot deadlock
/// with a plug-in waiting for its answer.
///
/// An end of track is tagged with the engine's play generation when it is
/// posted; one that arrives after another source has started is dropped.
class HostWindow {
public:
    using Task = std::function<void()>;
    /// Runs a task on the host's thread; called on the plug-ins' threads.
    using Queue = std::function<void(Task)>;

    explicit HostWindow(Queue queue);
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;

    HWND handle() { return &m_token; }
    /// The engine that receives the messages; null detaches it (queued
    /// messages then do nothing).
    void attach(PlayerEngine* engine) { m_engine = engine; }

    static HostWindow* fromHandle(HWND window);

private:
    static intptr_t send(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam);
    static int post(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam);

    wa_host_window m_token;
    Queue m_queue;
    std::atomic<PlayerEngine*> m_engine{nullptr};
};

/// The host's answer to WM_WA_MPEG_EOF and WM_WA_IPC for the given engine
/// (null: only the constant answers). `generation` is the play generation
/// captured when the message was posted; an end of track of an older
/// generation is dropped. Runs on the host's thread for posted messages and
/// on the plug-in's thread for sent queries.
intptr_t process_winamp_message(PlayerEngine* engine, unsigned message, uintptr_t wparam, intptr_t lparam,
                                std::uint64_t generation);
