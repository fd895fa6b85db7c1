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

/* Whole frames of at most MAX_WRITE_BYTES per Write. */
static int write_frames(Out_Module* out, char* bytes, int length, int channels, const atomic_int* stop)
{
    const int most = MAX_WRITE_BYTES - MAX_WRITE_BYTES % (channels * 2);
    while (length > 0) {
        const int n = length < most ? length : most;
        if (write_block(out, bytes, n, stop) != 0) return -1;
        bytes += n;
        length -= n;
    }
    return 0;
}

int pcm_write(In_Module* module, const short* frames, int count, int channels, int samplerate,
              const atomic_int* stop)
{
    /* Twice the chunk: a DSP may stretch the samples it is given. */
    short block[PCM_CHUNK_BYTES];
    Out_Module* out = module->outMod;
    int chunk_frames;
    if (channels < 1 || channels > 2) return -1;
    chunk_frames = PCM_CHUNK_FRAMES(channels);
    while (count > 0) {
        const int n = count < chunk_frames ? count : chunk_frames;
        int produced = n;
        const int written_ms = out->GetWrittenTime ? out->GetWrittenTime() : 0;
        memcpy(block, frames, (size_t)n * (size_t)channels * sizeof(short));
        if (module->SAAddPCMData) module->SAAddPCMData(block, channels, 16, written_ms);
        if (module->VSAAddPCMData) module->VSAAddPCMData(block, channels, 16, written_ms);
        if (module->dsp_isactive && module->dsp_isactive() && module->dsp_dosamples) {
            produced = module->dsp_dosamples(block, n, 16, channels, samplerate);
            if (produced < 0) produced = 0;
            if (produced > 2 * chunk_frames) produced = 2 * chunk_frames;
        }
        if (produced > 0 &&
            write_frames(out, (char*)block, produced * channels * (int)sizeof(short), channels, stop) != 0)
            return -1;
        frames += (size_t)n * (size_t)channels;
        count -= n;
    }
    return 0;
}

/* Polled often: the next item should reach the output before libvlc asks
 * for more than the last block it took, or a block of silence goes out. */
int pcm_wait_drained(In_Module* module, const atomic_int* stop)
{
    while (module->outMod->IsPlaying())
        if (pcm_sleep(2, stop) != 0) return -1;
    return 0;
}
