#pragma once

#include <atomic>
#include <cstdint>

#include "audio/plugin_api.h"

class mp3stream;

// The output module "IP Multicast Output Plug-In 1.0" that the host offers
// every input plug-in: its Write hands decoded PCM to the common stream.
//
// Threads: a plug-in's decoding thread or a sine thread writes (one source
// at a time); the engine binds and unbinds on its callers' threads. The
// written time and the divisor are atomics because the engine's stop may
// overlap the last Write of an ending source.

extern Out_Module g_winamp_out_module;

// Narrow directory texts filled by Init; plug-ins keep the addresses that the
// host window hands out, so they live as long as the program.
extern char g_winamp_app_dir[260];
extern char g_winamp_ini_path[260];
extern char g_winamp_plugins_dir[260];

/// The common stream that Open/Write/CanWrite/IsPlaying reach, and the
/// engine's active flag (IsPlaying answers 0 while it is false). Null
/// pointers make the module refuse Open and Write and report nothing playing.
void out_module_bind(mp3stream* stream, const std::atomic<bool>* active);

/// Replaces the plug-in directory text (an engine built over another folder).
void out_module_set_plugins_dir(const char* folder);
