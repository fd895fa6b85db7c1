#include "gui/layout/icon_grid.h"

#include <wx/dcclient.h>
#include <wx/renderer.h>
#include <wx/settings.h>

#include <algorithm>

namespace frm {

namespace {

constexpr int kPadding = 4;  // inside a cell, around the icon and the label
/// A label is given about this many average letters before it wraps.
constexpr int kLabelLetters = 20;
constexpr int kDefaultIcon = 32;
/// GTK's scroll bar needs about 46 pixels of length; given less it fails
/// its checks (Gtk-CRITICAL gtk_box_gadget_distribute).
constexpr int kMinHeight = 60;

}  // namespace

IconGrid::IconGrid(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxScrolledCanvas(parent, id, pos, size, wxBORDER_THEME | wxVSCROLL) {
    SetMinSize(wxSize(-1, kMinHeight));
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOX));
    SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOXTEXT));
    // Pixel steps, so that any item can be scrolled to exactly; the wheel
    // scrolls by lines of text (onWheel).
    SetScrollRate(0, 1);
    ShowScrollbars(wxSHOW_SB_NEVER, wxSHOW_SB_DEFAULT);
    Bind(wxEVT_PAINT, &IconGrid::onPaint, this);
    Bind(wxEVT_SIZE, &IconGrid::onSize, this);
    Bind(wxEVT_IDLE, &IconGrid::onIdle, this);
    Bind(wxEVT_LEFT_DOWN, &IconGrid::onLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &IconGrid::onLeftDown, this);
    Bind(wxEVT_KEY_DOWN, &IconGrid::onKeyDown, this);
    Bind(wxEVT_MOUSEWHEEL, &IconGrid::onWheel, this);
    Bind(wxEVT_SET_FOCUS, &IconGrid::onFocus, this);
    Bind(wxEVT_KILL_FOCUS, &IconGrid::onFocus, this);
}

IconGrid::~IconGrid() = default;

// ---- items --------------------------------------------------------------------------------

void IconGrid::AssignImageList(wxImageList* images, int which) {
    if (which != wxIMAGE_LIST_NORMAL) {
        delete images;
        return;
    }
    m_images.reset(images);
    invalidate();
}

wxImageList* IconGrid::GetImageList(int which) const {
    return which == wxIMAGE_LIST_NORMAL ? m_images.get() : nullptr;
}

long IconGrid::InsertItem(long index, const wxString& label, int image) {
    index = std::clamp<long>(index, 0, GetItemCount());
    Item item;
    item.label = label;
    item.image = image;
    item.labelWidth = measure(label);
    m_items.insert(m_items.begin() + index, std::move(item));
    if (m_current >= index) ++m_current;
    if (m_anchor >= index) ++m_anchor;
    invalidate();
    return index;
}

bool IconGrid::DeleteAllItems() {
    m_items.clear();
    m_current = m_anchor = -1;
    invalidate();
    return true;
}

wxString IconGrid::GetItemText(long item, int) const {
    return valid(item) ? m_items[item].label : wxString();
}

void IconGrid::SetItemText(long item, const wxString& label) {
    if (!valid(item) || m_items[item].label == label) return;
    Item& changed = m_items[item];
    changed.label = label;
    changed.labelWidth = measure(label);
    changed.lines.clear();
    invalidate();
}

bool IconGrid::SetItemImage(long item, int image, int) {
    if (!valid(item)) return false;
    if (m_items[item].image != image) {
        m_items[item].image = image;
        refreshItem(item);
    }
    return true;
}

bool IconGrid::SetItemPtrData(long item, wxUIntPtr data) {
    if (!valid(item)) return false;
    m_items[item].data = data;
    return true;
}

wxUIntPtr IconGrid::GetItemData(long item) const { return valid(item) ? m_items[item].data : 0; }

bool IconGrid::GetItem(wxListItem& info) const {
    const long item = info.GetId();
    if (!valid(item)) return false;
    const long mask = info.GetMask();
    if (mask & wxLIST_MASK_TEXT) info.SetText(m_items[item].label);
    if (mask & wxLIST_MASK_IMAGE) info.SetImage(m_items[item].image);
    if (mask & wxLIST_MASK_DATA) info.SetData(m_items[item].data);
    if (mask & wxLIST_MASK_STATE) info.SetState(GetItemState(item, info.m_stateMask));
    return true;
}

int IconGrid::GetItemState(long item, long stateMask) const {
    if (!valid(item)) return 0;
    int state = 0;
    if (m_items[item].selected) state |= wxLIST_STATE_SELECTED;
    if (item == m_current) state |= wxLIST_STATE_FOCUSED;
    return state & static_cast<int>(stateMask);
}

bool IconGrid::SetItemState(long item, long state, long stateMask) {
    if (item == -1) {
        // A handler may rebuild the items: the count is read each time.
        for (long each = 0; each < GetItemCount(); ++each) SetItemState(each, state, stateMask);
        return true;
    }
    if (!valid(item)) return false;
    if (stateMask & wxLIST_STATE_FOCUSED) {
        if (state & wxLIST_STATE_FOCUSED)
            setCurrent(item);
        else if (item == m_current)
            setCurrent(-1);
    }
    if (stateMask & wxLIST_STATE_SELECTED) select(item, (state & wxLIST_STATE_SELECTED) != 0);
    return true;
}

long IconGrid::GetNextItem(long item, int, int state) const {
    for (long next = std::max(item + 1, 0L); next < GetItemCount(); ++next) {
        if (state == wxLIST_STATE_DONTCARE) return next;
        if ((state & wxLIST_STATE_SELECTED) && m_items[next].selected) return next;
        if ((state & wxLIST_STATE_FOCUSED) && next == m_current) return next;
    }
    return -1;
}

int IconGrid::GetSelectedItemCount() const {
    return static_cast<int>(
        std::count_if(m_items.begin(), m_items.end(), [](const Item& item) { return item.selected; }));
}

// ---- geometry ------------------------------------------------------------------------------

int IconGrid::measure(const wxString& text) const {
    int width = 0, height = 0;
    GetTextExtent(text, &width, &height);
    return width;
}

std::vector<wxString> IconGrid::wrapLabel(const wxString& label, int width, const Measure& measure) {
    std::vector<wxString> lines;
    wxString line;
    // Adds `piece` to the line, or starts a new line with it when the line
    // would get too wide; a piece too wide alone goes letter by letter.
    const auto place = [&](const wxString& piece, const wxString& separator) {
        if (line.empty() && measure(piece) <= width) {
            line = piece;
            return;
        }
        if (!line.empty() && measure(line + separator + piece) <= width) {
            line += separator + piece;
            return;
        }
        if (!line.empty()) lines.push_back(line);
        line.clear();
        for (const wxUniChar letter : piece) {
            if (!line.empty() && measure(line + letter) > width) {
                lines.push_back(line);
                line.clear();
            }
            line += letter;
        }
    };
    for (const wxString& word : wxSplit(label, ' ', '\0')) place(word, " ");
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}

void IconGrid::invalidate() {
    m_dirty = true;
    Refresh();
}

void IconGrid::layoutIfNeeded() const {
    if (m_dirty || GetClientSize().x != m_laidOutWidth) const_cast<IconGrid*>(this)->layout();
}

void IconGrid::layout() {
    if (m_inLayout) {
        // A size change while the scroll bar comes or goes: once more later.
        m_dirty = true;
        return;
    }
    m_inLayout = true;
    const int width = GetClientSize().x;
    Cells cells;
    cells.iconWidth = cells.iconHeight = kDefaultIcon;
    if (m_images && m_images->GetImageCount() > 0) m_images->GetSize(0, cells.iconWidth, cells.iconHeight);
    cells.lineHeight = GetCharHeight();

    int widest = 0;
    for (const Item& item : m_items) widest = std::max(widest, item.labelWidth);
    int textWidth =
        std::clamp(widest, cells.iconWidth, std::max(cells.iconWidth, GetCharWidth() * kLabelLetters));
    // A cell is never wider than the control: its label wraps instead.
    textWidth = std::max(1, std::min(textWidth, width - 2 * kMargin - 2 * kPadding));
    cells.cellWidth = textWidth + 2 * kPadding;
    cells.columns = std::max(1, (width - 2 * kMargin + kGap) / (cells.cellWidth + kGap));
    // The room left over goes between the columns: the rows span the control.
    cells.pitch = std::max(cells.cellWidth + kGap, (width - 2 * kMargin + kGap) / cells.columns);

    // Each row is as tall as the label with the most lines in it.
    const Measure measureText = [this](const wxString& text) { return measure(text); };
    int y = kMargin;
    for (std::size_t first = 0; first < m_items.size(); first += cells.columns) {
        const std::size_t end = std::min(m_items.size(), first + cells.columns);
        std::size_t lines = 1;
        for (std::size_t i = first; i < end; ++i) {
            Item& item = m_items[i];
            if (item.labelWidth <= textWidth)
                item.lines.assign(1, item.label);
            else
                item.lines = wrapLabel(item.label, textWidth, measureText);
            lines = std::max(lines, item.lines.size());
        }
        const int height = 3 * kPadding + cells.iconHeight + static_cast<int>(lines) * cells.lineHeight;
        cells.rowTops.push_back(y);
        cells.rowHeights.push_back(height);
        y += height + kGap;
    }
    const int total = cells.rowTops.empty() ? 0 : y - kGap + kMargin;
    m_cells = std::move(cells);
    m_dirty = false;
    m_laidOutWidth = width;
    SetVirtualSize(0, total);
    m_inLayout = false;
}

int IconGrid::cellOffset() const { return (m_cells.pitch - kGap - m_cells.cellWidth) / 2; }

wxRect IconGrid::cellRect(long item) const {
    const auto row = static_cast<std::size_t>(item / m_cells.columns);
    const long column = item % m_cells.columns;
    if (row >= m_cells.rowTops.size()) return wxRect();
    return wxRect(kMargin + static_cast<int>(column) * m_cells.pitch + cellOffset(), m_cells.rowTops[row],
                  m_cells.cellWidth, m_cells.rowHeights[row]);
}

bool IconGrid::GetItemRect(long item, wxRect& rect, int code) const {
    if (!valid(item)) return false;
    layoutIfNeeded();
    wxRect cell = cellRect(item);
    cell.SetPosition(CalcScrolledPosition(cell.GetPosition()));
    switch (code) {
        case wxLIST_RECT_ICON:
            rect = wxRect(cell.x + (cell.width - m_cells.iconWidth) / 2, cell.y + kPadding, m_cells.iconWidth,
                          m_cells.iconHeight);
            break;
        case wxLIST_RECT_LABEL: {
            const int top = cell.y + 2 * kPadding + m_cells.iconHeight;
            rect = wxRect(cell.x, top, cell.width, cell.GetBottom() + 1 - top);
            break;
        }
        default:
            rect = cell;
    }
    return true;
}

long IconGrid::HitTest(const wxPoint& point, int& flags) const {
    flags = wxLIST_HITTEST_NOWHERE;
    layoutIfNeeded();
    const wxPoint at = CalcUnscrolledPosition(point);
    const auto& tops = m_cells.rowTops;
    const auto after = std::upper_bound(tops.begin(), tops.end(), at.y);
    if (after == tops.begin()) return -1;
    const auto row = static_cast<std::size_t>(after - tops.begin() - 1);
    if (at.y >= tops[row] + m_cells.rowHeights[row] || at.x < kMargin) return -1;
    const int column = (at.x - kMargin) / m_cells.pitch;
    const int within = (at.x - kMargin) % m_cells.pitch - cellOffset();
    if (column >= m_cells.columns || within < 0 || within >= m_cells.cellWidth) return -1;
    const long item = static_cast<long>(row) * m_cells.columns + column;
    if (!valid(item)) return -1;
    flags = wxLIST_HITTEST_ONITEM;
    return item;
}

bool IconGrid::EnsureVisible(long item) {
    if (!valid(item)) return false;
    layoutIfNeeded();
    const wxRect cell = cellRect(item);
    const int top = GetViewStart().y;
    const int height = GetClientSize().y;
    // The top of a cell taller than the control stays in sight.
    if (cell.y < top || cell.height > height)
        Scroll(-1, cell.y);
    else if (cell.GetBottom() >= top + height)
        Scroll(-1, cell.GetBottom() + 1 - height);
    return true;
}

void IconGrid::refreshItem(long item) {
    if (m_dirty || !valid(item)) return;  // all of it is repainted anyway
    wxRect cell = cellRect(item);
    cell.SetPosition(CalcScrolledPosition(cell.GetPosition()));
    RefreshRect(cell.Inflate(1));
}

// ---- selection -----------------------------------------------------------------------------

void IconGrid::sendEvent(wxEventType type, long item) {
    wxListEvent event(type, GetId());
    event.SetEventObject(this);
    event.m_itemIndex = item;
    event.m_item.SetId(item);
    event.m_item.SetText(m_items[item].label);
    event.m_item.SetImage(m_items[item].image);
    event.m_item.SetData(m_items[item].data);
    GetEventHandler()->ProcessEvent(event);
}

bool IconGrid::select(long item, bool on) {
    if (!valid(item) || m_items[item].selected == on) return false;
    m_items[item].selected = on;
    refreshItem(item);
    sendEvent(on ? wxEVT_LIST_ITEM_SELECTED : wxEVT_LIST_ITEM_DESELECTED, item);
    return true;
}

void IconGrid::selectRange(long first, long last, bool keepOthers) {
    if (first > last) std::swap(first, last);
    // Deselections first, as the list control sends them.
    if (!keepOthers)
        for (long each = 0; each < GetItemCount(); ++each)
            if (each < first || each > last) select(each, false);
    for (long each = first; each <= last && each < GetItemCount(); ++each) select(each, true);
}

void IconGrid::setCurrent(long item) {
    if (item == m_current) return;
    const long before = m_current;
    m_current = valid(item) ? item : -1;
    refreshItem(before);
    refreshItem(m_current);
}

void IconGrid::chooseItem(long item, bool control, bool shift) {
    if (shift && valid(m_anchor)) {
        selectRange(m_anchor, item, control);
    } else if (control) {
        select(item, !m_items[item].selected);
        m_anchor = item;
    } else {
        selectRange(item, item, false);
        m_anchor = item;
    }
    setCurrent(item);
}

// ---- events --------------------------------------------------------------------------------

void IconGrid::onPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    layoutIfNeeded();
    DoPrepareDC(dc);
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    dc.SetFont(GetFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);

    const int top = GetViewStart().y;
    const int bottom = top + GetClientSize().y;
    const bool focused = HasFocus();
    wxRendererNative& renderer = wxRendererNative::Get();
    for (std::size_t row = 0; row < m_cells.rowTops.size(); ++row) {
        if (m_cells.rowTops[row] + m_cells.rowHeights[row] < top) continue;
        if (m_cells.rowTops[row] > bottom) break;
        const long first = static_cast<long>(row) * m_cells.columns;
        for (long item = first; item < first + m_cells.columns && valid(item); ++item) {
            const Item& shown = m_items[item];
            const wxRect cell = cellRect(item);
            if (shown.selected)
                renderer.DrawItemSelectionRect(
                    this, dc, cell,
                    focused ? wxCONTROL_SELECTED | wxCONTROL_FOCUSED : int(wxCONTROL_SELECTED));
            if (focused && item == m_current) renderer.DrawFocusRect(this, dc, cell);
            if (m_images && shown.image >= 0 && shown.image < m_images->GetImageCount())
                m_images->Draw(shown.image, dc, cell.x + (cell.width - m_cells.iconWidth) / 2,
                               cell.y + kPadding, wxIMAGELIST_DRAW_TRANSPARENT);
            dc.SetTextForeground(shown.selected ? wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHTTEXT)
                                                : GetForegroundColour());
            int y = cell.y + 2 * kPadding + m_cells.iconHeight;
            for (const wxString& line : shown.lines) {
                const int width = dc.GetTextExtent(line).x;
                dc.DrawText(line, cell.x + (cell.width - width) / 2, y);
                y += m_cells.lineHeight;
            }
        }
    }
}

void IconGrid::onSize(wxSizeEvent& event) {
    event.Skip();
    if (GetClientSize().x != m_laidOutWidth) layout();
    Refresh();
}

void IconGrid::onIdle(wxIdleEvent& event) {
    event.Skip();
    if (m_dirty) {
        layout();
        Refresh();
    }
}

void IconGrid::onLeftDown(wxMouseEvent& event) {
    SetFocus();
    int flags = 0;
    const long item = HitTest(event.GetPosition(), flags);
    if (item != -1) {
        chooseItem(item, event.ControlDown(), event.ShiftDown());
        return;
    }
    // A click beside the icons clears the selection, unless it adds to it.
    if (!event.ControlDown() && !event.ShiftDown())
        for (long each = 0; each < GetItemCount(); ++each) select(each, false);
}

void IconGrid::onKeyDown(wxKeyEvent& event) {
    const long count = GetItemCount();
    if (count == 0) {
        event.Skip();
        return;
    }
    const long from = valid(m_current) ? m_current : 0;
    long to = from;
    switch (event.GetKeyCode()) {
        case WXK_LEFT:
            to = from - 1;
            break;
        case WXK_RIGHT:
            to = from + 1;
            break;
        case WXK_UP:
            to = from - m_cells.columns;
            break;
        case WXK_DOWN:
            to = from + m_cells.columns;
            break;
        case WXK_HOME:
            to = 0;
            break;
        case WXK_END:
            to = count - 1;
            break;
        default:
            event.Skip();
            return;
    }
    to = std::clamp(to, 0L, count - 1);
    if (event.ControlDown())
        setCurrent(to);  // the focus moves, the selection stays
    else
        chooseItem(to, false, event.ShiftDown());
    EnsureVisible(to);
}

void IconGrid::onWheel(wxMouseEvent& event) {
    if (event.GetWheelAxis() != wxMOUSE_WHEEL_VERTICAL || event.GetWheelDelta() == 0) return;
    m_wheelRotation += event.GetWheelRotation();
    const int notches = m_wheelRotation / event.GetWheelDelta();
    m_wheelRotation -= notches * event.GetWheelDelta();
    const int lines = notches * event.GetLinesPerAction();
    Scroll(-1, std::max(0, GetViewStart().y - lines * GetCharHeight()));
}

void IconGrid::onFocus(wxFocusEvent& event) {
    event.Skip();
    refreshItem(m_current);
    for (long each = 0; each < GetItemCount(); ++each)
        if (m_items[each].selected) refreshItem(each);
}

}  // namespace frm
