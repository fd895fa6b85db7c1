#include "audio/base_control_list.h"

#include <algorithm>
#include <functional>

std::vector<unsigned> BaseControlList::takeSelectionForDeletion() {
    std::vector<unsigned> rows;
    rows.swap(m_selection);
    std::sort(rows.begin(), rows.end(), std::greater<unsigned>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}
