#include "audio/vlc_support.h"

#include <cstdarg>
#include <cstdio>

#include "base/dbg.h"

namespace {

// Runs on libvlc's threads; the log takes records from any thread.
void forward_log(void*, int level, const libvlc_log_t*, const char* format, va_list args) {
    int ours = TRACE2;
    switch (level) {
    case LIBVLC_NOTICE: ours = TRACE; break;
    case LIBVLC_WARNING: ours = DEBUG; break;
    case LIBVLC_ERROR: ours = EXTERN; break;
    default: break;
    }
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    dbg_puts(ours, static_cast<const char*>(text));
}

}  // namespace

libvlc_instance_t* vlc_new_instance(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    argv.reserve(args.size());
    for (const auto& arg : args) argv.push_back(arg.c_str());
    return libvlc_new(static_cast<int>(argv.size()), argv.data());
}

libvlc_media_t* vlc_new_media(libvlc_instance_t* instance, const char* location,
                              const std::vector<std::string>& options) {
    libvlc_media_t* media = libvlc_media_new_location(instance, location);
    if (media == nullptr) return nullptr;
    for (const auto& option : options) libvlc_media_add_option(media, option.c_str());
    return media;
}

void vlc_forward_log(libvlc_instance_t* instance) {
    libvlc_log_set(instance, forward_log, nullptr);
}

std::string vlc_last_error(const char* fallback) {
    const char* text = libvlc_errmsg();
    return text != nullptr && *text != '\0' ? std::string(text) : std::string(fallback);
}

void vlc_clear_media(libvlc_media_player_t* player) {
    if (player != nullptr) libvlc_media_player_set_media(player, nullptr);
}
