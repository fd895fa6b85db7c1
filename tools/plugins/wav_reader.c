#include "tools/plugins/wav_reader.h"

#include <string.h>

enum {
    WAVE_FORMAT_PCM = 1,
    WAVE_FORMAT_EXTENSIBLE = 0xFFFE,
    MIN_RATE = 8000,
    MAX_RATE = 48000
};

static uint32_t le32(const unsigned char* p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static unsigned le16(const unsigned char* p)
{
    return (unsigned)p[0] | ((unsigned)p[1] << 8);
}

static int read_exact(wav_read_fn read, void* context, uint64_t offset, void* buffer, size_t size)
{
    return read(context, offset, buffer, size) == size;
}

/* The format chunk: plain PCM, or the extensible form whose sub-format GUID
 * starts with the PCM tag. */
static enum wav_result parse_format(const unsigned char* fmt, uint32_t size, struct wav_info* info)
{
    unsigned tag;
    if (size < 16) return WAV_TRUNCATED;
    tag = le16(fmt);
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (size < 40) return WAV_TRUNCATED;
        tag = le16(fmt + 24);
    }
    info->channels = le16(fmt + 2);
    info->samplerate = le32(fmt + 4);
    info->block_align = le16(fmt + 12);
    info->bits = le16(fmt + 14);
    if (tag != WAVE_FORMAT_PCM || info->bits != 16) return WAV_UNSUPPORTED;
    if (info->channels < 1 || info->channels > 2) return WAV_UNSUPPORTED;
    if (info->samplerate < MIN_RATE || info->samplerate > MAX_RATE) return WAV_UNSUPPORTED;
    /* Frames are read by this size, so a header that disagrees is refused
     * rather than trusted. */
    if (info->block_align != info->channels * 2) return WAV_UNSUPPORTED;
    return WAV_OK;
}

enum wav_result wav_read_info(wav_read_fn read, void* context, uint64_t source_size,
                              struct wav_info* info)
{
    unsigned char header[12];
    unsigned char fmt[40];
    uint64_t offset = 12;
    int have_format = 0, have_data = 0;
    enum wav_result format_result = WAV_NO_FORMAT;

    memset(info, 0, sizeof *info);
    if (source_size < sizeof header || !read_exact(read, context, 0, header, sizeof header))
        return WAV_NOT_RIFF;
    if (memcmp(header, "RIFF", 4) != 0 || memcmp(header + 8, "WAVE", 4) != 0) return WAV_NOT_RIFF;

    /* The RIFF size is often wrong in files written by streaming recorders,
     * so the walk is bounded by the source alone. */
    while (!(have_format && have_data) && offset + 8 <= source_size) {
        unsigned char chunk[8];
        uint32_t size;
        if (!read_exact(read, context, offset, chunk, sizeof chunk)) return WAV_TRUNCATED;
        size = le32(chunk + 4);
        offset += 8;
        if (memcmp(chunk, "fmt ", 4) == 0 && !have_format) {
            const size_t want = size < sizeof fmt ? size : sizeof fmt;
            if (offset + want > source_size || !read_exact(read, context, offset, fmt, want))
                return WAV_TRUNCATED;
            format_result = parse_format(fmt, (uint32_t)want, info);
            if (format_result != WAV_OK) return format_result;
            have_format = 1;
        } else if (memcmp(chunk, "data", 4) == 0 && !have_data) {
            info->data_offset = offset;
            info->data_bytes = source_size - offset < size ? source_size - offset : size;
            have_data = 1;
        }
        offset += (uint64_t)size + (size & 1u); /* chunks are padded to even sizes */
    }
    if (!have_format) return format_result;
    if (!have_data) return WAV_NO_DATA;
    info->data_bytes -= info->data_bytes % info->block_align;
    if (info->data_bytes == 0) return WAV_NO_DATA;
    return WAV_OK;
}

const char* wav_result_text(enum wav_result result)
{
    switch (result) {
    case WAV_OK: return "ok";
    case WAV_NOT_RIFF: return "not a RIFF/WAVE file";
    case WAV_TRUNCATED: return "truncated header";
    case WAV_NO_FORMAT: return "no format chunk";
    case WAV_NO_DATA: return "no audio data";
    case WAV_UNSUPPORTED: return "not 16-bit PCM, 1-2 channels, 8000-48000 Hz";
    }
    return "unknown";
}
