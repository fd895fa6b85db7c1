/* Test fixtures for the plug-in host: one source, built once per variant
 * with -DFIXTURE_<NAME>=1 and -DFIXTURE_NAME="<name>" into
 * <build>/tests/plugins. The host dlopens them, so a test steers and
 * watches them through the environment, read at Init and at every Play:
 *   SONVAR_PLUGIN_TRACE   file that receives "<name> init", "<name> play <arg>",
 *                         "<name> play-failed <arg>", "<name> eof <arg>",
 *                         "<name> stop", "<name> quit" (see plugin_trace.h);
 *   SONVAR_FIXTURE_FAIL   comma-separated fixture names (or "all") whose Play
 *                         fails;
 *   SONVAR_FIXTURE_EOF_MS posts WM_WA_MPEG_EOF this many ms after Play
 *                         (unset: the track never ends by itself);
 *   SONVAR_FIXTURE_WRITE  "1": opens the output module at 44100 Hz stereo and
 *                         writes silence until the end, so the output module
 *                         is driven from the fixture's thread.
 *
 * Variants: in_fake_mp3, in_fake_ogg, in_fake_wma (accepted decoders),
 * in_fakeline (a "LineIn" source with no extensions), in_unicode (wide
 * record), in_noout (does not use the output module), in_noentry (no entry
 * point), in_nullrec (entry returns no record), out_x (a valid decoder whose
 * file name the host must not pick up). */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audio/plugin_api.h"
#include "tools/plugins/pcm_writer.h"
#include "tools/plugins/plugin_export.h"
#include "tools/plugins/plugin_trace.h"

#if defined(FIXTURE_IN_FAKE_MP3)
#define FIXTURE_EXTENSIONS "mp3;mp2\0MPEG audio\0"
#define FIXTURE_DESCRIPTION "Fake MPEG decoder"
#elif defined(FIXTURE_IN_FAKE_OGG)
#define FIXTURE_EXTENSIONS "ogg\0Ogg Vorbis\0"
#define FIXTURE_DESCRIPTION "Fake Ogg decoder"
#elif defined(FIXTURE_IN_FAKE_WMA)
#define FIXTURE_EXTENSIONS "wma;asf\0Windows Media audio\0"
#define FIXTURE_DESCRIPTION "Fake WMA decoder"
#elif defined(FIXTURE_IN_FAKELINE)
#define FIXTURE_EXTENSIONS ""
#define FIXTURE_DESCRIPTION "Fake LineIn source"
#elif defined(FIXTURE_OUT_X)
#define FIXTURE_EXTENSIONS "outx\0Not an input plug-in\0"
#define FIXTURE_DESCRIPTION "Fake output plug-in"
#else
#define FIXTURE_EXTENSIONS "fix\0Refused fixture\0"
#define FIXTURE_DESCRIPTION "Refused fixture " FIXTURE_NAME
#endif

#if defined(FIXTURE_IN_UNICODE)
#define FIXTURE_VERSION (IN_VER | 0x0F000000)
#else
#define FIXTURE_VERSION IN_VER
#endif

#if defined(FIXTURE_IN_NOOUT)
#define FIXTURE_USES_OUTPUT 0
#else
#define FIXTURE_USES_OUTPUT IN_MODULE_FLAG_USES_OUTPUT_PLUGIN
#endif

static In_Module g_module;

static struct {
    char argument[4096];
    pthread_t thread;
    int thread_started;
    int opened;
    int eof_ms;
    int write_silence;
    atomic_int stop;
} g_play;

static int listed(const char* list, const char* name)
{
    const size_t length = strlen(name);
    const char* p = list;
    if (list == NULL) return 0;
    if (strcmp(list, "all") == 0) return 1;
    while ((p = strstr(p, name)) != NULL) {
        const int starts = p == list || p[-1] == ',';
        const int ends = p[length] == '\0' || p[length] == ',';
        if (starts && ends) return 1;
        p += length;
    }
    return 0;
}

static void* fixture_thread(void* unused)
{
    static const short silence[PCM_CHUNK_BYTES / sizeof(short)];
    int left = g_play.eof_ms;
    (void)unused;
    while (left > 0 && !atomic_load(&g_play.stop)) {
        if (g_play.write_silence &&
            pcm_write(&g_module, silence, PCM_CHUNK_FRAMES(2), 2, 44100, &g_play.stop) != 0)
            return NULL;
        if (pcm_sleep(5, &g_play.stop) != 0) return NULL;
        left -= 5;
    }
    if (atomic_load(&g_play.stop)) return NULL;
    plugin_trace("%s eof %s", FIXTURE_NAME, g_play.argument);
    PostMessage(g_module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
    return NULL;
}

static void fixture_stop(void)
{
    if (g_play.thread_started) {
        atomic_store(&g_play.stop, 1);
        pthread_join(g_play.thread, NULL);
        g_play.thread_started = 0;
    }
    if (g_play.opened) g_module.outMod->Close();
    g_play.opened = 0;
    plugin_trace("%s stop", FIXTURE_NAME);
}

static int fixture_play(char* argument)
{
    const char* eof_ms = getenv("SONVAR_FIXTURE_EOF_MS");
    const char* write = getenv("SONVAR_FIXTURE_WRITE");
    if (g_play.thread_started || g_play.opened) fixture_stop();
    snprintf(g_play.argument, sizeof g_play.argument, "%s", argument ? argument : "(null)");
    if (listed(getenv("SONVAR_FIXTURE_FAIL"), FIXTURE_NAME)) {
        plugin_trace("%s play-failed %s", FIXTURE_NAME, g_play.argument);
        return 1;
    }
    plugin_trace("%s play %s", FIXTURE_NAME, g_play.argument);
    g_play.write_silence = write != NULL && strcmp(write, "1") == 0;
    if (g_play.write_silence) {
        if (g_module.outMod->Open(44100, 2, 16, -1, -1) < 0) return 1;
        g_play.opened = 1;
    }
    if (eof_ms == NULL) return 0;
    g_play.eof_ms = atoi(eof_ms);
    atomic_store(&g_play.stop, 0);
    if (pthread_create(&g_play.thread, NULL, fixture_thread, NULL) != 0) return 1;
    g_play.thread_started = 1;
    return 0;
}

static void fixture_init(void)
{
    plugin_trace_setup();
    plugin_trace("%s init", FIXTURE_NAME);
}

static void fixture_quit(void) { plugin_trace("%s quit", FIXTURE_NAME); }

static void fixture_file_info(char* file, char* title, int* length)
{
    if (title) plugin_set_title(title, FIXTURE_NAME ": ", file ? file : g_play.argument);
    if (length) *length = -1;
}

static void fixture_config(HWND parent) { (void)parent; }
static void fixture_about(HWND parent) { (void)parent; }
static int fixture_info_box(char* file, HWND parent) { (void)file; (void)parent; return 0; }
static int fixture_is_our_file(char* file) { (void)file; return 0; }
static void fixture_pause(void) {}
static int fixture_is_paused(void) { return 0; }
static int fixture_length(void) { return -1; }
static int fixture_output_time(void) { return 0; }
static void fixture_set_int(int value) { (void)value; }

static In_Module g_module = {
    .version = FIXTURE_VERSION,
    .description = FIXTURE_DESCRIPTION,
    .FileExtensions = FIXTURE_EXTENSIONS,
    .UsesOutputPlug = FIXTURE_USES_OUTPUT,
    .Config = fixture_config,
    .About = fixture_about,
    .Init = fixture_init,
    .Quit = fixture_quit,
    .GetFileInfo = fixture_file_info,
    .InfoBox = fixture_info_box,
    .IsOurFile = fixture_is_our_file,
    .Play = fixture_play,
    .Pause = fixture_pause,
    .UnPause = fixture_pause,
    .IsPaused = fixture_is_paused,
    .Stop = fixture_stop,
    .GetLength = fixture_length,
    .GetOutputTime = fixture_output_time,
    .SetOutputTime = fixture_set_int,
    .SetVolume = fixture_set_int,
    .SetPan = fixture_set_int,
};

#if defined(FIXTURE_IN_NOENTRY)
/* Exported under a name the host does not look for. */
PLUGIN_EXPORT In_Module* winampGetInModule(void) { return &g_module; }
#elif defined(FIXTURE_IN_NULLREC)
PLUGIN_EXPORT In_Module* winampGetInModule2(void) { return NULL; }
/* Keeps the record referenced so that the variant builds without warnings. */
PLUGIN_EXPORT In_Module* fixture_unused_record(void) { return &g_module; }
#else
PLUGIN_EXPORT In_Module* winampGetInModule2(void) { return &g_module; }
#endif
