#include "audio/host_window.h"

#include <zlib.h>

#include "audio/out_module.h"
#include "audio/player_engine.h"
#include "base/dbg.h"

namespace {

int call_uncompress(unsigned char* dest, unsigned long* dest_len, const unsigned char* source,
                    unsigned long source_len) {
    uLongf length = *dest_len;
    const int result = ::uncompress(dest, &length, source, source_len);
    *dest_len = length;
    return result;
}

/// A plug-in built for newer hosts asks for things this host doesn't have.
/// Debug builds stop, so that such a plug-in is noticed; the product refuses
/// the request and goes on playing the other plug-ins' sources.
intptr_t refuse_newer_host_request(const char* what) {
#ifndef NDEBUG
    dbg_abort(what, "process_winamp_message");
#else
    dbg_puts(ERROR, "%s", what);
    return 0;
#endif
}

}  // namespace

HostWindow::HostWindow(Queue queue) : m_queue(std::move(queue)) {
    m_token.send = &HostWindow::send;
    m_token.post = &HostWindow::post;
    m_token.host = this;
}

HostWindow* HostWindow::fromHandle(HWND window) {
    return window != nullptr ? static_cast<HostWindow*>(window->host) : nullptr;
}

intptr_t HostWindow::send(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
    HostWindow* self = fromHandle(window);
    if (self == nullptr) return 0;
    // Messages that act on the engine never run on the plug-in's thread: the
    // engine may be joining that very thread.
    if (message == WM_WA_MPEG_EOF || (message == WM_WA_IPC && lparam == IPC_UPDTITLE)) {
        post(window, message, wparam, lparam);
        return 0;
    }
    return process_winamp_message(self->m_engine.load(), message, wparam, lparam, 0);
}

int HostWindow::post(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam) {
    HostWindow* self = fromHandle(window);
    if (self == nullptr || !self->m_queue) return 0;
    PlayerEngine* engine = self->m_engine.load();
    const std::uint64_t generation = engine != nullptr ? engine->play_generation() : 0;
    self->m_queue([self, message, wparam, lparam, generation] {
        process_winamp_message(self->m_engine.load(), message, wparam, lparam, generation);
    });
    return 1;
}

intptr_t process_winamp_message(PlayerEngine* engine, unsigned message, uintptr_t wparam, intptr_t lparam,
                                std::uint64_t generation) {
    if (message == WM_WA_MPEG_EOF) {
        dbg_puts(TRACE, "Message WM_WA_MPEG_EOF, %lu, %ld", static_cast<unsigned long>(wparam),
                 static_cast<long>(lparam));
        if (engine != nullptr) engine->end_of_track(generation);
        return 0;
    }
    if (message != WM_WA_IPC) return 0;
    dbg_puts(TRACE, "Message WM_WA_IPC, %lu, %ld", static_cast<unsigned long>(wparam), static_cast<long>(lparam));
    switch (lparam) {
    case IPC_GETVERSION:
        return 0x5011;
    case IPC_UPDTITLE:
        if (engine != nullptr) engine->update_song_title();
        return 0;
    case IPC_GET_RANDFUNC: {
        const wa_uncompress_fn function = &call_uncompress;
        return reinterpret_cast<intptr_t>(function);
    }
    case IPC_GETINIFILE:
        return reinterpret_cast<intptr_t>(g_winamp_ini_path);
    case IPC_GETINIDIRECTORY:
    case IPC_GETM3UDIRECTORY:
        return reinterpret_cast<intptr_t>(g_winamp_app_dir);
    case IPC_GETPLUGINDIRECTORY:
        return reinterpret_cast<intptr_t>(g_winamp_plugins_dir);
    case IPC_CB_OUTPUTCHANGED:
        return refuse_newer_host_request("IPC_CB_OUTPUTCHANGED!");
    case IPC_GET_API_SERVICE:
        return refuse_newer_host_request("IPC_GET_API_SERVICE message: Only Winamp 5.112 and below plugin supported!");
    default:
        return 0;
    }
}
