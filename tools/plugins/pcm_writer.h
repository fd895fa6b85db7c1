/* How a decoding thread hands 16-bit PCM to the host: the host's
 * visualisation and DSP callbacks, then Writes of at most 576 frames, each
 * after CanWrite admits it and repeated while Write answers "not now". Used
 * by in_wav's reader thread and by in_vlc's libvlc audio thread. */
#ifndef SONVAR_TOOLS_PLUGINS_PCM_WRITER_H
#define SONVAR_TOOLS_PLUGINS_PCM_WRITER_H

#include <stdatomic.h>

#include "audio/plugin_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Frames per Write: 576 stereo frames are 2304 bytes, and even doubled by
 * a DSP they stay within the output module's 8192-byte limit. */
#define PCM_CHUNK_FRAMES 576

/* Writes count interleaved frames. Returns 0 when all were queued, -1 when
 * the stop flag was raised while waiting (the rest is dropped). */
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
