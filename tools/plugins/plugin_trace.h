/* Optional trace of a plug-in's exchanges with its host: when the
 * environment variable SONVAR_PLUGIN_TRACE names a file, every line is
 * appended to it ("in_wav open 44100 2 16 -> 2000"). It lets a test, or an
 * engineer on site, see from the plug-in's side what the host answered and
 * when the track ended, without a debugger attached to the host. */
#ifndef SONVAR_TOOLS_PLUGINS_PLUGIN_TRACE_H
#define SONVAR_TOOLS_PLUGINS_PLUGIN_TRACE_H

#ifdef __cplusplus
extern "C" {
#endif

#define PLUGIN_TRACE_ENV "SONVAR_PLUGIN_TRACE"

/* Reads the variable; call from Init on the host's thread, before the
 * plug-in starts threads of its own. */
void plugin_trace_setup(void);

/* Appends one line (printf format, without the line feed) when tracing is
 * on; any thread. Each line is one write, so lines of several plug-ins and
 * threads never interleave. */
void plugin_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

#ifdef __cplusplus
}
#endif

#endif
