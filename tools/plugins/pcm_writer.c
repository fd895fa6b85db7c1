#include "tools/plugins/pcm_writer.h"

#include <string.h>
#include <time.h>

enum { POLL_MS = 5, MAX_WRITE_BYTES = 8192 };

int pcm_sleep(int ms, const atomic_int* stop)
{
    while (ms > 0) {
        const int step = ms < POLL_MS ? ms : POLL_MS;
        struct timespec pause = {0, step * 1000000L};
        if (atomic_load(stop)) return -1;
        nanosleep(&pause, NULL);
        ms -= step;
    }
    return atomic_load(stop) ? -1 : 0;
}

static int write_block(Out_Module* out, char* bytes, int length, const atomic_int* stop)
{
    while (out->CanWrite() < length)
        if (pcm_sleep(POLL_MS, stop) != 0) return -1;
    while (out->Write(bytes, length) != 0)
        if (pcm_sleep(POLL_MS, stop) != 0) return -1;
    return 0;
}

int pcm_write(In_Module* module, const short* frames, int count, int channels, int samplerate,
              const atomic_int* stop)
{
    /* Twice the chunk: a DSP may stretch the samples it is given. */
    short block[PCM_CHUNK_FRAMES * 2 * 2];
    Out_Module* out = module->outMod;
    if (channels < 1 || channels > 2) return -1;
    while (count > 0) {
        const int n = count < PCM_CHUNK_FRAMES ? count : PCM_CHUNK_FRAMES;
        int produced = n;
        int bytes;
        const int written_ms = out->GetWrittenTime ? out->GetWrittenTime() : 0;
        memcpy(block, frames, (size_t)n * (size_t)channels * sizeof(short));
        if (module->SAAddPCMData) module->SAAddPCMData(block, channels, 16, written_ms);
        if (module->VSAAddPCMData) module->VSAAddPCMData(block, channels, 16, written_ms);
        if (module->dsp_isactive && module->dsp_isactive() && module->dsp_dosamples) {
            produced = module->dsp_dosamples(block, n, 16, channels, samplerate);
            if (produced < 0) produced = 0;
            if (produced > 2 * PCM_CHUNK_FRAMES) produced = 2 * PCM_CHUNK_FRAMES;
        }
        bytes = produced * channels * (int)sizeof(short);
        if (bytes > MAX_WRITE_BYTES) bytes = MAX_WRITE_BYTES - MAX_WRITE_BYTES % (channels * 2);
        if (bytes > 0 && write_block(out, (char*)block, bytes, stop) != 0) return -1;
        frames += (size_t)n * (size_t)channels;
        count -= n;
    }
    return 0;
}

int pcm_wait_drained(In_Module* module, const atomic_int* stop)
{
    while (module->outMod->IsPlaying())
        if (pcm_sleep(10, stop) != 0) return -1;
    return 0;
}
