#include "os/thread_list.h"

#include <dirent.h>

#include <cstdlib>
#include <cwchar>

namespace os {

std::wstring getThreadIdList() {
    std::wstring list;
    DIR* tasks = ::opendir("/proc/self/task");
    if (tasks == nullptr) return list;
    while (const dirent* entry = ::readdir(tasks)) {
        char* end = nullptr;
        const unsigned long id = std::strtoul(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;  // "." and ".."
        wchar_t text[10];
        std::swprintf(text, sizeof text / sizeof text[0], L"%01lX,", id);
        list += text;
    }
    ::closedir(tasks);
    if (!list.empty()) list.pop_back();
    return list;
}

}  // namespace os
