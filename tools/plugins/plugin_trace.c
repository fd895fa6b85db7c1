#include "tools/plugins/plugin_trace.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Written once by plugin_trace_setup before any reader thread exists. */
static char g_trace_path[4096];

void plugin_trace_setup(void)
{
    const char* path = getenv(PLUGIN_TRACE_ENV);
    if (path == NULL || strlen(path) >= sizeof g_trace_path) {
        g_trace_path[0] = '\0';
        return;
    }
    strcpy(g_trace_path, path);
}

void plugin_trace(const char* format, ...)
{
    char line[2048];
    va_list args;
    int length, fd;
    if (g_trace_path[0] == '\0') return;
    va_start(args, format);
    length = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (length < 0) return;
    if (length > (int)sizeof line - 2) length = (int)sizeof line - 2;
    line[length++] = '\n';
    fd = open(g_trace_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (write(fd, line, (size_t)length) < 0) { /* a lost trace line is no failure */ }
    close(fd);
}
