#pragma once

#include <cstddef>
#include <vector>

/// What the list controls of the source panels share: the selected row
/// indexes that the GUI thread sets, and deletion and moving of rows, which
/// each list does under its own lock.
///
/// Objects are owned through boost::shared_ptr of the derived type, so the
/// destructor is protected and not virtual.
class BaseControlList {
public:
    /// Replaces the selection; not locked (only the GUI thread selects).
    virtual void setSelection(const std::vector<unsigned>& selection) { m_selection = selection; }
    virtual std::vector<unsigned>& getSelection() { return m_selection; }
    /// Deletes the selected rows and clears the selection.
    virtual void deleteSelected() = 0;
    /// Moves one row; the new index, or -1 when an index is out of range.
    virtual int moveItem(unsigned from, unsigned to) = 0;

protected:
    BaseControlList() = default;
    ~BaseControlList() = default;

    /// Erases the selected rows of `rows` from the highest down and clears
    /// the selection. Each row goes once even when it is selected twice, so
    /// no unselected row below it goes instead. An index past the end is
    /// logged and ends the deletion there.
    template <class Rows>
    void eraseSelected(Rows& rows) {
        for (unsigned row : takeSelectionForDeletion()) {
            if (row >= rows.size()) {
                logRowOutOfRange(rows.size(), row);
                return;
            }
            rows.erase(rows.begin() + row);
        }
    }

    std::vector<unsigned> m_selection;

private:
    std::vector<unsigned> takeSelectionForDeletion();
    static void logRowOutOfRange(std::size_t size, unsigned row);
};
