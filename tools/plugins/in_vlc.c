/* in_vlc: decodes every file and stream that libvlc plays here (MPEG audio,
 * Ogg, FLAC, WMA and AAC where the codecs exist, "http://" and "mms://"
 * internet radio) and writes it as 16-bit PCM through the host's output
 * module, like any input plug-in.
 *
 * Threads: the host calls Play, Stop and the queries one at a time on its
 * own threads. libvlc decodes on its threads and hands PCM to audio_play on
 * its audio thread, which blocks there while the output module is full; the
 * same thread tells audio_drain when the decoder has handed out its last
 * samples. That, or the end and error events that arrive on libvlc's event
 * thread about a tenth of a second later, wakes the watcher thread of this
 * plug-in. The watcher waits for the output to fall silent and posts
 * WM_WA_MPEG_EOF: the next item follows without that tenth of a second of
 * silence. Stop raises the stop flag first, so a
 * blocked audio_play returns, then stops the libvlc player (which joins its
 * threads) and joins the watcher. */
#define _GNU_SOURCE
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vlc/vlc.h>

#include "audio/plugin_api.h"
#include "tools/plugins/pcm_writer.h"
#include "tools/plugins/plugin_export.h"
#include "tools/plugins/plugin_trace.h"

enum { MIN_RATE = 8000, MAX_RATE = 48000 };

static In_Module g_module;

static libvlc_instance_t* g_vlc;

static struct {
    /* Guards player and media against GetFileInfo; held only for short
     * calls that never wait on libvlc's threads. */
    pthread_mutex_t lock;
    libvlc_media_player_t* player;
    libvlc_media_t* media;
    char location[4096];
    /* Written by audio_setup before any audio_play, on libvlc's audio
     * thread. */
    int samplerate;
    int channels;
    atomic_int opened;
    atomic_int stop;
    /* The end of the media or an error, from libvlc's event thread. */
    pthread_mutex_t end_lock;
    pthread_cond_t end_signal;
    int ended;
    pthread_t watcher;
    int watcher_started;
} g_play = {.lock = PTHREAD_MUTEX_INITIALIZER,
            .end_lock = PTHREAD_MUTEX_INITIALIZER,
            .end_signal = PTHREAD_COND_INITIALIZER};

static libvlc_instance_t* vlc_instance(void)
{
    static const char* const args[] = {"--intf=dummy", "--ignore-config", "--no-video",
                                       "--no-stats", "--quiet"};
    if (g_vlc == NULL) g_vlc = libvlc_new((int)(sizeof args / sizeof args[0]), args);
    return g_vlc;
}

/* libvlc's audio thread: the decoder's format is known. The output module
 * takes 16-bit PCM of 1-2 channels at 8-48 kHz; libvlc converts to that. */
static int audio_setup(void** opaque, char* format, unsigned* rate, unsigned* channels)
{
    int buffer_ms;
    (void)opaque;
    memcpy(format, "S16N", 4);
    if (*channels > 2 || *channels < 1) *channels = 2;
    if (*rate > MAX_RATE) *rate = MAX_RATE;
    if (*rate < MIN_RATE) *rate = MIN_RATE;
    buffer_ms = g_module.outMod->Open((int)*rate, (int)*channels, 16, -1, -1);
    plugin_trace("in_vlc open %u %u 16 -> %d", *rate, *channels, buffer_ms);
    if (buffer_ms < 0) return -1;
    g_play.samplerate = (int)*rate;
    g_play.channels = (int)*channels;
    atomic_store(&g_play.opened, 1);
    /* A new format may keep the output closed for a while (the last item
     * still leaving it). Waited for here, before libvlc's audio clock runs:
     * audio that audio_play holds back that long counts as late, and libvlc
     * drops the rest of the item. */
    while (g_module.outMod->CanWrite() <= 0)
        if (pcm_sleep(5, &g_play.stop) != 0) break;
    if (g_module.SAVSAInit) g_module.SAVSAInit(buffer_ms, (int)*rate);
    if (g_module.VSASetInfo) g_module.VSASetInfo((int)*rate, (int)*channels);
    if (g_module.SetInfo) g_module.SetInfo(0, (int)*rate / 1000, *channels == 2, 1);
    return 0;
}

static void audio_play(void* opaque, const void* samples, unsigned count, int64_t pts)
{
    (void)opaque;
    (void)pts;
    pcm_write(&g_module, (const short*)samples, (int)count, g_play.channels, g_play.samplerate,
              &g_play.stop);
}

static void wake_watcher(void)
{
    pthread_mutex_lock(&g_play.end_lock);
    g_play.ended = 1;
    pthread_cond_broadcast(&g_play.end_signal);
    pthread_mutex_unlock(&g_play.end_lock);
}

/* libvlc's audio thread, at the end of the input: every sample has gone
 * through audio_play. */
static void audio_drain(void* opaque)
{
    (void)opaque;
    plugin_trace("in_vlc drained");
    wake_watcher();
}

/* libvlc's event thread: no libvlc call may be made from here. */
static void on_player_event(const struct libvlc_event_t* event, void* opaque)
{
    (void)opaque;
    plugin_trace("in_vlc %s", event->type == libvlc_MediaPlayerEndReached ? "end" : "error");
    wake_watcher();
}

static void on_meta_changed(const struct libvlc_event_t* event, void* opaque)
{
    (void)event;
    (void)opaque;
    PostMessage(g_module.hMainWindow, WM_WA_IPC, 0, IPC_UPDTITLE);
}

static void* watcher_thread(void* unused)
{
    (void)unused;
    pthread_mutex_lock(&g_play.end_lock);
    while (!g_play.ended) pthread_cond_wait(&g_play.end_signal, &g_play.end_lock);
    pthread_mutex_unlock(&g_play.end_lock);
    if (atomic_load(&g_play.stop)) return NULL;
    if (pcm_wait_drained(&g_module, &g_play.stop) != 0) return NULL;
    plugin_trace("in_vlc eof %s", g_play.location);
    PostMessage(g_module.hMainWindow, WM_WA_MPEG_EOF, 0, 0);
    return NULL;
}

static void vlc_stop(void)
{
    libvlc_media_player_t* player;
    libvlc_media_t* media;
    pthread_mutex_lock(&g_play.lock);
    player = g_play.player;
    media = g_play.media;
    pthread_mutex_unlock(&g_play.lock);
    if (player == NULL) return;

    atomic_store(&g_play.stop, 1); /* a blocked audio_play gives up */
    wake_watcher();
    libvlc_media_player_stop(player);
    if (g_play.watcher_started) pthread_join(g_play.watcher, NULL);
    g_play.watcher_started = 0;
    libvlc_event_detach(libvlc_media_event_manager(media), libvlc_MediaMetaChanged, on_meta_changed,
                        NULL);

    pthread_mutex_lock(&g_play.lock);
    g_play.player = NULL;
    g_play.media = NULL;
    pthread_mutex_unlock(&g_play.lock);
    libvlc_media_player_release(player);
    libvlc_media_release(media);

    if (atomic_exchange(&g_play.opened, 0)) {
        g_module.outMod->Close();
        if (g_module.SAVSADeInit) g_module.SAVSADeInit();
    }
    plugin_trace("in_vlc stop %s", g_play.location);
}

static libvlc_media_player_t* new_player(libvlc_media_t* media)
{
    libvlc_media_player_t* player = libvlc_media_player_new_from_media(media);
    libvlc_event_manager_t* events;
    if (player == NULL) return NULL;
    libvlc_audio_set_callbacks(player, audio_play, NULL, NULL, NULL, audio_drain, NULL);
    libvlc_audio_set_format_callbacks(player, audio_setup, NULL);
    events = libvlc_media_player_event_manager(player);
    if (libvlc_event_attach(events, libvlc_MediaPlayerEndReached, on_player_event, NULL) != 0 ||
        libvlc_event_attach(events, libvlc_MediaPlayerEncounteredError, on_player_event, NULL) != 0) {
        libvlc_media_player_release(player);
        return NULL;
    }
    return player;
}

static int vlc_play(char* location)
{
    libvlc_instance_t* vlc;
    libvlc_media_t* media;
    libvlc_media_player_t* player;
    const int is_url = location != NULL && strstr(location, "://") != NULL;
    vlc_stop();
    if (location == NULL || strlen(location) >= sizeof g_play.location) return 1;
    /* A missing file fails here; libvlc would only report it later. */
    if (!is_url && access(location, R_OK) != 0) return 1;
    if ((vlc = vlc_instance()) == NULL) return 1;
    media = is_url ? libvlc_media_new_location(vlc, location) : libvlc_media_new_path(vlc, location);
    if (media == NULL) return 1;
    if ((player = new_player(media)) == NULL) {
        libvlc_media_release(media);
        return 1;
    }
    libvlc_event_attach(libvlc_media_event_manager(media), libvlc_MediaMetaChanged, on_meta_changed,
                        NULL);
    strcpy(g_play.location, location);
    atomic_store(&g_play.stop, 0);
    atomic_store(&g_play.opened, 0);
    pthread_mutex_lock(&g_play.end_lock);
    g_play.ended = 0;
    pthread_mutex_unlock(&g_play.end_lock);
    pthread_mutex_lock(&g_play.lock);
    g_play.player = player;
    g_play.media = media;
    pthread_mutex_unlock(&g_play.lock);
    if (pthread_create(&g_play.watcher, NULL, watcher_thread, NULL) != 0) {
        vlc_stop();
        return 1;
    }
    g_play.watcher_started = 1;
    if (libvlc_media_player_play(player) != 0) {
        vlc_stop();
        return 1;
    }
    plugin_trace("in_vlc play %s", location);
    return 0;
}

static void vlc_init(void)
{
    plugin_trace_setup();
    /* Made now, at the host's start, so that the first Play is quick. */
    if (vlc_instance() == NULL) plugin_trace("in_vlc libvlc_new failed");
}

static void vlc_quit(void)
{
    vlc_stop();
    if (g_vlc != NULL) libvlc_release(g_vlc);
    g_vlc = NULL;
}

/* The stream's own title when libvlc knows one ("Artist - Title", or what a
 * radio station announces), else the file name or the address. */
static void vlc_file_info(char* file, char* title, int* length)
{
    const char* name = (file == NULL || *file == '\0') ? g_play.location : file;
    const char* slash = strstr(name, "://") ? NULL : strrchr(name, '/');
    if (length) *length = -1;
    if (title == NULL) return;
    plugin_set_title(title, "", slash ? slash + 1 : name);
    if (name != g_play.location) return;
    pthread_mutex_lock(&g_play.lock);
    if (g_play.media != NULL) {
        char* now = libvlc_media_get_meta(g_play.media, libvlc_meta_NowPlaying);
        char* artist = libvlc_media_get_meta(g_play.media, libvlc_meta_Artist);
        char* song = libvlc_media_get_meta(g_play.media, libvlc_meta_Title);
        if (now && *now)
            plugin_set_title(title, "", now);
        else if (artist && *artist && song && *song) {
            char joined[PLUGIN_TITLE_SIZE];
            plugin_set_title(joined, artist, " - ");
            plugin_set_title(title, joined, song);
        } else if (song && *song)
            plugin_set_title(title, "", song);
        libvlc_free(now);
        libvlc_free(artist);
        libvlc_free(song);
        if (length && g_play.player) {
            const libvlc_time_t ms = libvlc_media_player_get_length(g_play.player);
            *length = ms > 0 ? (int)ms : -1;
        }
    }
    pthread_mutex_unlock(&g_play.lock);
}

static int vlc_length(void)
{
    int length = -1;
    pthread_mutex_lock(&g_play.lock);
    if (g_play.player) {
        const libvlc_time_t ms = libvlc_media_player_get_length(g_play.player);
        length = ms > 0 ? (int)ms : -1;
    }
    pthread_mutex_unlock(&g_play.lock);
    return length;
}

static void vlc_config(HWND parent) { (void)parent; }
static void vlc_about(HWND parent) { (void)parent; }
static int vlc_info_box(char* file, HWND parent) { (void)file; (void)parent; return 0; }
static int vlc_is_our_file(char* file) { (void)file; return 0; }
static void vlc_pause(void) {}
static int vlc_is_paused(void) { return 0; }
static int vlc_output_time(void) { return g_module.outMod->GetOutputTime(); }
static void vlc_set_output_time(int ms) { (void)ms; }
static void vlc_set_volume(int volume) { g_module.outMod->SetVolume(volume); }
static void vlc_set_pan(int pan) { g_module.outMod->SetPan(pan); }
static void vlc_eq_set(int on, char data[10], int preamp) { (void)on; (void)data; (void)preamp; }

static In_Module g_module = {
    .version = IN_VER,
    .description = "Sonvar libvlc decoder 1.0",
    .FileExtensions = "mp3;mp2;mpa\0MPEG audio\0"
                      "ogg;oga;opus\0Ogg audio\0"
                      "flac\0FLAC audio\0"
                      "wma;asf\0Windows Media audio\0"
                      "m4a;aac\0AAC audio\0",
    .is_seekable = 0,
    .UsesOutputPlug = IN_MODULE_FLAG_USES_OUTPUT_PLUGIN,
    .Config = vlc_config,
    .About = vlc_about,
    .Init = vlc_init,
    .Quit = vlc_quit,
    .GetFileInfo = vlc_file_info,
    .InfoBox = vlc_info_box,
    .IsOurFile = vlc_is_our_file,
    .Play = vlc_play,
    .Pause = vlc_pause,
    .UnPause = vlc_pause,
    .IsPaused = vlc_is_paused,
    .Stop = vlc_stop,
    .GetLength = vlc_length,
    .GetOutputTime = vlc_output_time,
    .SetOutputTime = vlc_set_output_time,
    .SetVolume = vlc_set_volume,
    .SetPan = vlc_set_pan,
    .EQSet = vlc_eq_set,
};

PLUGIN_EXPORT In_Module* winampGetInModule2(void) { return &g_module; }
