/* How a decoding thread hands 16-bit PCM to the host: the host's
 * visualisation and DSP callbacks, then Writes of at most 8192 bytes (the
 * output module's limit), each after CanWrite admits it and repeated while
 * Write answers "not now". Used by in_wav's reader thread and by in_vlc's
 * libvlc audio thread. */
#ifndef SONVAR_TOOLS_PLUGINS_PCM_WRITER_H
#define SONVAR_TOOLS_PLUGINS_PCM_WRITER_H

#include <stdatomic.h>

#include "audio/plugin_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bytes per Write: the most the output module takes at once. Few large
 * chunks fill its ring quickly when a track starts. */
#define PCM_CHUNK_BYTES 8192
/* Frames of one chunk. */
#define PCM_CHUNK_FRAMES(channels) (PCM_CHUNK_BYTES / (2 * (channels)))

/* Writes count interleaved frames, in chunks of PCM_CHUNK_BYTES; what a DSP
 * makes of a chunk goes out in as many Writes as it needs. Returns 0 when
 * all were queued, -1 when the stop flag was raised while waiting (the rest
 * is dropped). */
int pcm_write(In_Module* module, const short* frames, int count, int channels, int samplerate,
              const atomic_int* stop);

/* After the last Write: waits until the output module reports that nothing
 * sounds any more. Returns 0 then, -1 when the stop flag was raised first. */
int pcm_wait_drained(In_Module* module, const atomic_int* stop);

/* Sleeps about ms milliseconds, waking early when the stop flag is raised.
 * Returns -1 when it was. */
int pcm_sleep(int ms, const atomic_int* stop);

#ifdef __cplusplus
}
#endif

#endif
