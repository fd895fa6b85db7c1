#include "audio/base_control_list.h"

#include <algorithm>
#include <functional>

#include "base/dbg.h"

std::vector<unsigned> BaseControlList::takeSelectionForDeletion() {
    std::vector<unsigned> rows;
    rows.swap(m_selection);
    std::sort(rows.begin(), rows.end(), std::greater<unsigned>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void BaseControlList::logRowOutOfRange(std::size_t size, unsigned row) {
    dbg_puts(ERROR, "Internal error. list index out of bounds. size %u, index %u", static_cast<unsigned>(size), row);
}
