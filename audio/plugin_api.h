/* Input- and output-plug-in records shared by the host (PlayerEngine) and
 * the in_*.so decoders in the "plugins" folder.
 *
 * Plain C so that plug-ins written in C include it unchanged. The layouts
 * follow the published input-module (0x100) and output-module (0x10)
 * records field by field; only the window handle differs: on this system
 * it is a small token that carries the host's send and post functions, so
 * a plug-in reaches the host without any link-time symbol of it.
 *
 * Threads: a plug-in calls the output module and posts messages from its
 * own decoding thread; the host calls the input module from the engine's
 * callers (player jobs, GUI thread, tests). */
#ifndef SONVAR_AUDIO_PLUGIN_API_H
#define SONVAR_AUDIO_PLUGIN_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct wa_host_window;
typedef struct wa_host_window* HWND;
typedef void* HINSTANCE;

/* The host window token. `send` is answered on the calling thread (queries
 * with stable answers); `post` queues the message to the host and returns at
 * once (end of track, title change). `host` belongs to the host. */
struct wa_host_window {
    intptr_t (*send)(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam);
    int (*post)(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam);
    void* host;
};

static inline intptr_t SendMessage(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam)
{
    return (window && window->send) ? window->send(window, message, wparam, lparam) : 0;
}

static inline int PostMessage(HWND window, unsigned message, uintptr_t wparam, intptr_t lparam)
{
    return (window && window->post) ? window->post(window, message, wparam, lparam) : 0;
}

/* Host window messages. */
#define WM_USER 0x400
#define WM_WA_IPC WM_USER                /* lparam = request code below */
#define WM_WA_MPEG_EOF (WM_USER + 2)     /* the plug-in's track has ended */

/* WM_WA_IPC request codes the host knows. */
#define IPC_GETVERSION 0                 /* -> 0x5011 */
#define IPC_UPDTITLE 243                 /* the playing title changed (posted) */
#define IPC_GET_API_SERVICE 3025
#define IPC_CB_OUTPUTCHANGED 623
#define IPC_GET_RANDFUNC 331             /* -> zlib uncompress() */
#define IPC_GETINIFILE 334               /* -> narrow ini path */
#define IPC_GETINIDIRECTORY 335          /* -> narrow application directory */
#define IPC_GETPLUGINDIRECTORY 336       /* -> narrow plug-in directory */
#define IPC_GETM3UDIRECTORY 337          /* -> narrow application directory */

/* Signature of the function answered for code 331 (zlib's uncompress). */
typedef int (*wa_uncompress_fn)(unsigned char* dest, unsigned long* destLen,
                                const unsigned char* source, unsigned long sourceLen);

#define OUT_VER 0x10

typedef struct Out_Module {
    int version;                   /* OUT_VER */
    char* description;
    intptr_t id;
    HWND hMainWindow;
    HINSTANCE hDllInstance;
    void (*Config)(HWND parent);
    void (*About)(HWND parent);
    void (*Init)(void);
    void (*Quit)(void);
    /* Returns the buffer length in ms, or < 0 when the format is refused. */
    int (*Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms, int prebufferms);
    void (*Close)(void);
    /* len <= 8192; returns 0 when queued, 1 when not now (retry later). */
    int (*Write)(char* buf, int len);
    /* Bytes that Write would accept now. */
    int (*CanWrite)(void);
    /* Non-zero while written audio is still sounding. */
    int (*IsPlaying)(void);
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int t);
    int (*GetOutputTime)(void);
    int (*GetWrittenTime)(void);
} Out_Module;

#define IN_VER 0x100
/* Any of these bits in In_Module.version marks a wide-character plug-in. */
#define IN_UNICODE_MASK 0x0F000000
/* Bit of In_Module.UsesOutputPlug: the plug-in writes through outMod. */
#define IN_MODULE_FLAG_USES_OUTPUT_PLUGIN 1

typedef struct In_Module {
    int version;                   /* IN_VER */
    char* description;
    HWND hMainWindow;              /* written by the host */
    HINSTANCE hDllInstance;        /* written by the host */
    /* Pairs of NUL-terminated texts, "ext;ext" then description, ended by
     * an empty text: "mp3;mp2\0MPEG audio\0". */
    char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void (*Config)(HWND parent);
    void (*About)(HWND parent);
    void (*Init)(void);
    void (*Quit)(void);
    /* file == NULL asks about the playing file; title holds 2048 bytes. */
    void (*GetFileInfo)(char* file, char* title, int* length_in_ms);
    int (*InfoBox)(char* file, HWND parent);
    int (*IsOurFile)(char* fn);
    /* 0 on success. */
    int (*Play)(char* fn);
    void (*Pause)(void);
    void (*UnPause)(void);
    int (*IsPaused)(void);
    void (*Stop)(void);
    int (*GetLength)(void);
    int (*GetOutputTime)(void);
    void (*SetOutputTime)(int time_in_ms);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    /* Host callbacks, written by the host. */
    void (*SAVSAInit)(int maxlatency_in_ms, int srate);
    void (*SAVSADeInit)(void);
    void (*SAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*SAGetMode)(void);
    int (*SAAdd)(void* data, int timestamp, int csa);
    void (*VSAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*VSAGetMode)(int* spectrumNch, int* waveNch);
    int (*VSAAdd)(void* data, int timestamp);
    void (*VSASetInfo)(int srate, int nch);
    int (*dsp_isactive)(void);
    int (*dsp_dosamples)(short int* samples, int numsamples, int bps, int nch, int srate);
    /* Belongs to the plug-in; the host leaves it alone. */
    void (*EQSet)(int on, char data[10], int preamp);
    void (*SetInfo)(int bitrate, int srate, int stereo, int synched);
    Out_Module* outMod;            /* written by the host */
} In_Module;

/* The one symbol a plug-in exports. */
#define WA_IN_ENTRY_NAME "winampGetInModule2"
typedef In_Module* (*wa_in_entry_fn)(void);

#ifdef __cplusplus
}
#endif

#endif /* SONVAR_AUDIO_PLUGIN_API_H */
