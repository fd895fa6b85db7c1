#pragma once

#include <wx/imaglist.h>
#include <wx/listbase.h>
#include <wx/scrolwin.h>

#include <functional>
#include <memory>
#include <vector>

namespace frm {

/// A list of large icons, each with its label under it, laid out in rows as
/// wide as the control (left to right, then top to bottom) with a vertical
/// scroll bar when the rows do not fit; a label wider than a cell wraps onto
/// more lines, never cut. Laid out again when its size changes and after
/// items come or go.
///
/// It stands where an icon-mode wxListCtrl would: wxGTK's list control is
/// the generic one, which places icons in columns (top to bottom, then left
/// to right, scrolling sideways) and ignores item positions, so a short
/// list stands in one row and a tall window puts everything in one column.
/// It offers the wxListCtrl calls its users need, with the same meaning:
/// items with a label, an image of the normal image list and a data word;
/// the selected and focused states; and it sends wxListEvent's
/// wxEVT_LIST_ITEM_SELECTED and wxEVT_LIST_ITEM_DESELECTED, one per item
/// whose state changed, for clicks, keys and SetItemState alike (not for
/// DeleteAllItems). Selection is multiple: a click selects one item, Ctrl
/// adds or removes one, Shift a range; the arrow keys, Home and End move
/// the same way.
///
/// GUI thread only; owned by the toolkit as a child of its parent.
class IconGrid : public wxScrolledCanvas {
public:
    /// Measures a text's width in pixels.
    using Measure = std::function<int(const wxString&)>;
    /// Pixels around the cells and at least between them.
    static constexpr int kMargin = 4;
    static constexpr int kGap = 6;

    IconGrid(wxWindow* parent, wxWindowID id = wxID_ANY, const wxPoint& pos = wxDefaultPosition,
             const wxSize& size = wxDefaultSize);
    ~IconGrid() override;

    // The wxListCtrl calls, same names and meaning.
    /// Takes ownership; only wxIMAGE_LIST_NORMAL is used.
    void AssignImageList(wxImageList* images, int which);
    wxImageList* GetImageList(int which) const;
    int GetItemCount() const { return static_cast<int>(m_items.size()); }
    /// Inserts before `index` (clamped to the item count); returns the index.
    long InsertItem(long index, const wxString& label, int image = -1);
    bool DeleteAllItems();
    wxString GetItemText(long item, int column = 0) const;
    void SetItemText(long item, const wxString& label);
    bool SetItemImage(long item, int image, int selectedImage = -1);
    bool SetItemPtrData(long item, wxUIntPtr data);
    bool SetItemData(long item, long data) { return SetItemPtrData(item, static_cast<wxUIntPtr>(data)); }
    wxUIntPtr GetItemData(long item) const;
    /// Fills what the item's mask asks for: text, image, data, state.
    bool GetItem(wxListItem& info) const;
    int GetItemState(long item, long stateMask) const;
    /// `item` -1: every item.
    bool SetItemState(long item, long state, long stateMask);
    /// The next item after `item` (-1: from the start) having one of the
    /// `state` bits, or any with wxLIST_STATE_DONTCARE; -1 when none.
    /// The geometry is ignored, as in the generic list control.
    long GetNextItem(long item, int geometry = wxLIST_NEXT_ALL, int state = wxLIST_STATE_DONTCARE) const;
    int GetSelectedItemCount() const;
    /// In client coordinates: the cell (wxLIST_RECT_BOUNDS), its icon
    /// (wxLIST_RECT_ICON) or its label (wxLIST_RECT_LABEL).
    bool GetItemRect(long item, wxRect& rect, int code = wxLIST_RECT_BOUNDS) const;
    /// The item under a client point, or -1 (flags wxLIST_HITTEST_NOWHERE).
    long HitTest(const wxPoint& point, int& flags) const;
    bool EnsureVisible(long item);

    /// A label cut into lines no wider than `width` at the blanks; a word
    /// wider than that is cut between letters. Every letter stays, in order.
    static std::vector<wxString> wrapLabel(const wxString& label, int width, const Measure& measure);

private:
    struct Item {
        wxString label;
        int image = -1;
        wxUIntPtr data = 0;
        bool selected = false;
        int labelWidth = 0;           // on one line
        std::vector<wxString> lines;  // wrapped to the cell at the last layout
    };
    struct Cells {
        int columns = 1;
        int cellWidth = 0;
        int pitch = 0;  // from one column to the next
        int iconWidth = 0;
        int iconHeight = 0;
        int lineHeight = 0;
        std::vector<int> rowTops;  // in scrolled (virtual) coordinates
        std::vector<int> rowHeights;
    };

    bool valid(long item) const { return item >= 0 && item < GetItemCount(); }
    /// Lays the cells out for the client width when something changed
    /// (the geometry queries are const, as in wxListCtrl).
    void layoutIfNeeded() const;
    void layout();
    void invalidate();
    /// The cell in virtual coordinates.
    wxRect cellRect(long item) const;
    /// From a column's left edge to its cell's.
    int cellOffset() const;
    int measure(const wxString& text) const;
    /// Changes one item's selection and reports it; false when it had that state.
    bool select(long item, bool on);
    /// Selects [first, last] (either order) and deselects the rest, except
    /// that `keepOthers` leaves the rest as it is.
    void selectRange(long first, long last, bool keepOthers);
    void setCurrent(long item);
    void refreshItem(long item);
    void sendEvent(wxEventType type, long item);
    /// What a click or a key does to the item: plain, Ctrl or Shift.
    void chooseItem(long item, bool control, bool shift);

    void onPaint(wxPaintEvent& event);
    void onSize(wxSizeEvent& event);
    void onIdle(wxIdleEvent& event);
    void onLeftDown(wxMouseEvent& event);
    void onKeyDown(wxKeyEvent& event);
    void onWheel(wxMouseEvent& event);
    void onFocus(wxFocusEvent& event);

    std::unique_ptr<wxImageList> m_images;
    std::vector<Item> m_items;
    long m_current = -1;      // the focused item
    long m_anchor = -1;       // where a Shift range starts
    int m_wheelRotation = 0;  // of a wheel turned less than a notch
    // The layout: what the items and the client width give.
    Cells m_cells;
    bool m_dirty = true;
    int m_laidOutWidth = -1;
    bool m_inLayout = false;
};

}  // namespace frm
