/* Helpers every plug-in here shares. They are built with hidden
 * visibility; PLUGIN_EXPORT marks the one symbol the host looks up. */
#ifndef SONVAR_TOOLS_PLUGINS_PLUGIN_EXPORT_H
#define SONVAR_TOOLS_PLUGINS_PLUGIN_EXPORT_H

#include <string.h>

#define PLUGIN_EXPORT __attribute__((visibility("default")))

/* The host's GetFileInfo title buffer. */
#define PLUGIN_TITLE_SIZE 2048

/* title = prefix + text, cut to the title buffer. */
static inline void plugin_set_title(char* title, const char* prefix, const char* text)
{
    size_t used = 0;
    const char* parts[2] = {prefix, text};
    int i;
    for (i = 0; i < 2; ++i) {
        size_t n = parts[i] ? strlen(parts[i]) : 0;
        if (n > PLUGIN_TITLE_SIZE - 1 - used) n = PLUGIN_TITLE_SIZE - 1 - used;
        memcpy(title + used, parts[i], n);
        used += n;
    }
    title[used] = '\0';
}

#endif
