/* in_wav: plays RIFF/WAVE files of 16-bit PCM (1-2 channels, 8-48 kHz)
 * through the host's output module.
 *
 * Threads: the host calls Play, Stop and the queries on its own threads
 * (player jobs, the GUI thread), one call at a time; Play starts one reader
 * thread that writes 8192-byte chunks and, at the end of the data, waits for
 * the output to fall silent and posts WM_WA_MPEG_EOF. Stop raises the stop
 * flag and joins that thread, which only ever posts to the host, so the join
 * cannot wait on the host. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/plugin_api.h"
#include "tools/plugins/pcm_writer.h"
#include "tools/plugins/plugin_export.h"
#include "tools/plugins/plugin_trace.h"
#include "tools/plugins/wav_reader.h"

static In_Module g_module;

/* The playing file; written by Play before the thread starts and cleared by
 * Stop after the join. */
static struct {
    int fd;
    struct wav_info info;
    char path[4096];
    pthread_t thread;
    int thread_started;
    atomic_int stop;
    atomic_int paused;
} g_play = {.fd = -1};

static size_t read_fd(void* context, uint64_t offset, void* buffer, size_t size)
{
    const ssize_t n = pread(*(const int*)context, buffer, size, (off_t)offset);
    return n > 0 ? (size_t)n : 0;
}

/* Opens and checks a file; returns the descriptor or -1. */
static int open_wav(const char* path, struct wav_info* info)
{
    struct stat st;
    enum wav_result result;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return -1;
    }
    result = wav_read_info(read_fd, &fd, (uint64_t)st.st_size, info);
    if (result != WAV_OK) {
        plugin_trace("in_wav refused %s: %s", path, wav_result_text(result));
        close(fd);
        return -1;
    }
    return fd;
}

static int length_ms(const struct wav_info* info)
{
    const uint64_t frames = info->data_bytes / info->block_align;
    return (int)(frames * 1000 / info->samplerate);
}

static void* reader_thread(void* unused)
{
    short frames[PCM_CHUNK_BYTES / sizeof(short)];
    const struct wav_info* info = &g_play.info;
    uint64_t done = 0;
    (void)unused;
    while (done < info->data_bytes && !atomic_load(&g_play.stop)) {
        uint64_t want = info->data_bytes - done;
        size_t got;
        if (atomic_load(&g_play.paused)) {
            pcm_sleep(10, &g_play.stop);
            continue;
        }
        if (want > sizeof frames) want = sizeof frames;
        got = read_fd(&g_play.fd, info->data_offset + done, frames, (size_t)want);
        got -= got % info->block_align;
        if (got == 0) break; /* the file shrank under us: end here */
        if (pcm_write(&g_module, frames, (int)(got / info->block_align), (int)info->channels,
                      (int)info->samplerate, &g_play.stop) != 0)
            break;
        done += got;
    }
    if (pcm_wait_drained(&g_module, &g_play.stop) == 0) {
        plugin_trace("in_wav eof %s", g_play.path);
        PostMessage(g_module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
    }
    return NULL;
}

static void wav_stop(void)
{
    if (g_play.thread_started) {
        atomic_store(&g_play.stop, 1);
        pthread_join(g_play.thread, NULL);
        g_play.thread_started = 0;
        g_module.outMod->Close();
        if (g_module.SAVSADeInit) g_module.SAVSADeInit();
        plugin_trace("in_wav stop %s", g_play.path);
    }
    if (g_play.fd >= 0) close(g_play.fd);
    g_play.fd = -1;
    g_play.path[0] = '\0';
}

static int wav_play(char* path)
{
    int buffer_ms;
    wav_stop();
    if (path == NULL || strlen(path) >= sizeof g_play.path) return 1;
    g_play.fd = open_wav(path, &g_play.info);
    if (g_play.fd < 0) return 1;
    strcpy(g_play.path, path);
    buffer_ms = g_module.outMod->Open((int)g_play.info.samplerate, (int)g_play.info.channels, 16,
                                      -1, -1);
    plugin_trace("in_wav open %u %u 16 -> %d", g_play.info.samplerate, g_play.info.channels,
                 buffer_ms);
    if (buffer_ms < 0) {
        wav_stop();
        return 1;
    }
    if (g_module.SAVSAInit) g_module.SAVSAInit(buffer_ms, (int)g_play.info.samplerate);
    if (g_module.VSASetInfo) g_module.VSASetInfo((int)g_play.info.samplerate, (int)g_play.info.channels);
    if (g_module.SetInfo)
        g_module.SetInfo((int)(g_play.info.samplerate * g_play.info.block_align * 8 / 1000),
                         (int)(g_play.info.samplerate / 1000), g_play.info.channels == 2, 1);
    atomic_store(&g_play.stop, 0);
    atomic_store(&g_play.paused, 0);
    if (pthread_create(&g_play.thread, NULL, reader_thread, NULL) != 0) {
        g_module.outMod->Close();
        wav_stop();
        return 1;
    }
    g_play.thread_started = 1;
    plugin_trace("in_wav play %s", path);
    return 0;
}

/* The host's answers are traced so that a test sees them from this side. */
static void wav_init(void)
{
    static const int strings[] = {IPC_GETINIFILE, IPC_GETINIDIRECTORY, IPC_GETPLUGINDIRECTORY,
                                  IPC_GETM3UDIRECTORY};
    size_t i;
    plugin_trace_setup();
    plugin_trace("in_wav ipc %d %ld", IPC_GETVERSION,
                 (long)SendMessage(g_module.hMainWindow, WM_WA_IPC, 0, IPC_GETVERSION));
    for (i = 0; i < sizeof strings / sizeof strings[0]; ++i) {
        const char* text = (const char*)SendMessage(g_module.hMainWindow, WM_WA_IPC, 0, strings[i]);
        plugin_trace("in_wav ipc %d %p %s", strings[i], (const void*)text, text ? text : "(null)");
    }
}

static void wav_quit(void) { wav_stop(); }

static void wav_file_info(char* file, char* title, int* length)
{
    const char* path = (file == NULL || *file == '\0') ? g_play.path : file;
    const char* slash = strrchr(path, '/');
    if (title) plugin_set_title(title, "", slash ? slash + 1 : path);
    if (length) {
        struct wav_info info;
        int fd;
        if (path == g_play.path && g_play.fd >= 0) {
            *length = length_ms(&g_play.info);
        } else if ((fd = open_wav(path, &info)) >= 0) {
            *length = length_ms(&info);
            close(fd);
        } else {
            *length = -1;
        }
    }
}

static void wav_config(HWND parent) { (void)parent; }
static void wav_about(HWND parent) { (void)parent; }
static int wav_info_box(char* file, HWND parent) { (void)file; (void)parent; return 0; }
static int wav_is_our_file(char* file) { (void)file; return 0; }
static void wav_pause(void) { atomic_store(&g_play.paused, 1); g_module.outMod->Pause(1); }
static void wav_unpause(void) { atomic_store(&g_play.paused, 0); g_module.outMod->Pause(0); }
static int wav_is_paused(void) { return atomic_load(&g_play.paused); }
static int wav_length(void) { return g_play.fd >= 0 ? length_ms(&g_play.info) : -1; }
static int wav_output_time(void) { return g_module.outMod->GetOutputTime(); }
static void wav_set_output_time(int ms) { (void)ms; }
static void wav_set_volume(int volume) { g_module.outMod->SetVolume(volume); }
static void wav_set_pan(int pan) { g_module.outMod->SetPan(pan); }
static void wav_eq_set(int on, char data[10], int preamp) { (void)on; (void)data; (void)preamp; }

static In_Module g_module = {
    .version = IN_VER,
    .description = "Sonvar WAV decoder 1.0",
    .FileExtensions = "wav\0WAV audio (PCM 16 bit)\0",
    .is_seekable = 0,
    .UsesOutputPlug = IN_MODULE_FLAG_USES_OUTPUT_PLUGIN,
    .Config = wav_config,
    .About = wav_about,
    .Init = wav_init,
    .Quit = wav_quit,
    .GetFileInfo = wav_file_info,
    .InfoBox = wav_info_box,
    .IsOurFile = wav_is_our_file,
    .Play = wav_play,
    .Pause = wav_pause,
    .UnPause = wav_unpause,
    .IsPaused = wav_is_paused,
    .Stop = wav_stop,
    .GetLength = wav_length,
    .GetOutputTime = wav_output_time,
    .SetOutputTime = wav_set_output_time,
    .SetVolume = wav_set_volume,
    .SetPan = wav_set_pan,
    .EQSet = wav_eq_set,
};

PLUGIN_EXPORT In_Module* winampGetInModule2(void) { return &g_module; }
