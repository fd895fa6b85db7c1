/* RIFF/WAVE header reader for in_wav: finds the PCM format and the data
 * chunk. It reads through a positional callback, so the plug-in reads a file
 * with pread and the tests read a memory buffer; nothing here blocks or
 * allocates. */
#ifndef SONVAR_TOOLS_PLUGINS_WAV_READER_H
#define SONVAR_TOOLS_PLUGINS_WAV_READER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads up to size bytes at offset into buffer; returns the bytes read
 * (fewer at the end of the source). */
typedef size_t (*wav_read_fn)(void* context, uint64_t offset, void* buffer, size_t size);

enum wav_result {
    WAV_OK = 0,
    WAV_NOT_RIFF,      /* no "RIFF....WAVE" at the start */
    WAV_TRUNCATED,     /* a chunk header or the format chunk is cut off */
    WAV_NO_FORMAT,     /* no "fmt " chunk */
    WAV_NO_DATA,       /* no "data" chunk, or it holds no whole frame */
    WAV_UNSUPPORTED    /* not 16-bit PCM, 1-2 channels, 8000-48000 Hz */
};

struct wav_info {
    unsigned samplerate;
    unsigned channels;
    unsigned bits;
    unsigned block_align;   /* bytes of one frame */
    uint64_t data_offset;   /* first sample byte in the source */
    uint64_t data_bytes;    /* whole frames present, cut to the source's size */
};

/* Walks the chunks of a source of source_size bytes. A data chunk that
 * claims more than the source holds (a recorder that never closed its file)
 * is cut to what is there. */
enum wav_result wav_read_info(wav_read_fn read, void* context, uint64_t source_size,
                              struct wav_info* info);

/* A short English text for a result, for traces. */
const char* wav_result_text(enum wav_result result);

#ifdef __cplusplus
}
#endif

#endif
