#include "gui/widget_map.h"

#include <cxxabi.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/combobox.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/odcombo.h>
#include <wx/radiobox.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>
#include <wx/tglbtn.h>
#include <wx/toplevel.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <typeinfo>
#include <vector>

#include "device/device_base.h"
#include "gui/gui_thread.h"
#include "gui/item_data_map.h"
#include "gui/layout/icon_grid.h"

namespace frm {

namespace {

/// Lists of more items than this are cut: the trial never needs the rest,
/// and a walk over thousands of rows each period would cost the window.
constexpr int kMostItems = 400;

std::string quoted(const wxString& text) {
    const std::string bytes = text.utf8_string();
    std::string out = "\"";
    for (const char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    return out + "\"";
}

std::string rectText(const wxRect& rect) {
    char text[64];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d", rect.x, rect.y, rect.width, rect.height);
    return text;
}

std::string typeName(const wxWindow& window) {
    const char* mangled = typeid(window).name();
    int status = 0;
    char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string name = status == 0 && plain != nullptr ? plain : mangled;
    std::free(plain);
    return name;
}

/// A control's own state beside its label, or nothing.
bool valueOf(wxWindow* window, wxString& value) {
    if (auto* text = dynamic_cast<wxTextCtrl*>(window)) {
        value = text->GetValue();
    } else if (auto* toggle = dynamic_cast<wxToggleButton*>(window)) {
        value = toggle->GetValue() ? "1" : "0";
    } else if (auto* check = dynamic_cast<wxCheckBox*>(window)) {
        value = check->GetValue() ? "1" : "0";
    } else if (auto* combo = dynamic_cast<wxOwnerDrawnComboBox*>(window)) {
        value = combo->GetValue();
    } else if (auto* box = dynamic_cast<wxComboBox*>(window)) {
        value = box->GetValue();
    } else if (auto* choice = dynamic_cast<wxChoice*>(window)) {
        value = choice->GetStringSelection();
    } else if (auto* slider = dynamic_cast<wxSlider*>(window)) {
        value = wxString::Format("%d", slider->GetValue());
    } else if (auto* spin = dynamic_cast<wxSpinCtrl*>(window)) {
        value = wxString::Format("%d", spin->GetValue());
    } else if (auto* book = dynamic_cast<wxNotebook*>(window)) {
        value = wxString::Format("%d", book->GetSelection());
    } else if (auto* radio = dynamic_cast<wxRadioBox*>(window)) {
        value = radio->GetStringSelection();
    } else {
        return false;
    }
    return true;
}

class Listing {
public:
    std::string text;

    void window(wxWindow* window, int parent) {
        if (window->IsBeingDeleted() || !window->IsShown()) return;
        const int id = ++m_lines;
        text += "window id=" + std::to_string(id) + " parent=" + std::to_string(parent) +
                " type=" + typeName(*window) +
                " class=" + wxString(window->GetClassInfo()->GetClassName()).utf8_string() +
                " rect=" + rectText(window->GetScreenRect()) +
                " enabled=" + (window->IsEnabled() ? "1" : "0") +
                " focus=" + (wxWindow::FindFocus() == window ? "1" : "0") +
                " label=" + quoted(window->GetLabel()) + " tip=" + quoted(window->GetToolTipText());
        wxString value;
        if (valueOf(window, value)) text += " value=" + quoted(value);
        text += "\n";
        items(window, id);
        // A notebook shows its current page alone; its other children
        // (the other pages, and pages taken out of it and kept for later)
        // stay "shown" to the toolkit's own flag all the same.
        const auto* book = dynamic_cast<wxBookCtrlBase*>(window);
        for (wxWindow* child : window->GetChildren()) {
            if (child->IsTopLevel() || (book != nullptr && child != book->GetCurrentPage())) continue;
            this->window(child, id);
        }
    }

private:
    void item(int of, long index, const wxRect& screen, bool selected, const wxString& title,
              const std::string& hardware = std::string(), int image = -1) {
        text += "item of=" + std::to_string(of) + " index=" + std::to_string(index) +
                " rect=" + rectText(screen) + " selected=" + (selected ? "1" : "0") +
                " title=" + quoted(title);
        if (!hardware.empty()) text += " hw=" + hardware;
        if (image >= 0) text += " image=" + std::to_string(image);
        text += "\n";
    }

    wxRect onScreen(wxWindow* window, wxRect rect) const {
        rect.SetPosition(window->ClientToScreen(rect.GetPosition()));
        return rect;
    }

    void items(wxWindow* window, int id) {
        if (auto* grid = dynamic_cast<IconGrid*>(window)) {
            for (long i = 0; i < grid->GetItemCount() && i < kMostItems; ++i) {
                wxRect cell;
                grid->GetItemRect(i, cell);
                const auto* row = reinterpret_cast<const DeviceRowData*>(grid->GetItemData(i));
                const std::string hardware =
                    row != nullptr && row->device ? row->device->getHardwareAddress().toCharArray() : "";
                wxListItem info;
                info.SetId(i);
                info.SetMask(wxLIST_MASK_IMAGE);
                grid->GetItem(info);
                item(id, i, onScreen(grid, cell), grid->GetItemState(i, wxLIST_STATE_SELECTED) != 0,
                     grid->GetItemText(i), hardware, info.GetImage());
            }
        } else if (auto* list = dynamic_cast<wxListCtrl*>(window)) {
            for (long i = 0; i < list->GetItemCount() && i < kMostItems; ++i) {
                wxRect cell;
                if (!list->GetItemRect(i, cell)) continue;
                item(id, i, onScreen(list, cell), list->GetItemState(i, wxLIST_STATE_SELECTED) != 0,
                     list->GetItemText(i));
            }
        } else if (auto* tree = dynamic_cast<wxTreeCtrl*>(window)) {
            long index = 0;
            treeItems(tree, tree->GetRootItem(), id, index);
        } else if (auto* book = dynamic_cast<wxNotebook*>(window)) {
            tabs(book, id);
        }
    }

    /// The items shown (the hidden root's children and the expanded ones'),
    /// in the order they stand.
    void treeItems(wxTreeCtrl* tree, const wxTreeItemId& parent, int id, long& index) {
        if (!parent.IsOk()) return;
        const bool hiddenRoot = parent == tree->GetRootItem() && tree->HasFlag(wxTR_HIDE_ROOT);
        if (parent != tree->GetRootItem() || !hiddenRoot) {
            wxRect rect;
            if (index < kMostItems && tree->GetBoundingRect(parent, rect, true))
                item(id, index, onScreen(tree, rect), tree->IsSelected(parent), tree->GetItemText(parent));
            ++index;
            if (!tree->IsExpanded(parent) && parent != tree->GetRootItem()) return;
        }
        wxTreeItemIdValue cookie;
        for (wxTreeItemId child = tree->GetFirstChild(parent, cookie); child.IsOk();
             child = tree->GetNextChild(parent, cookie))
            treeItems(tree, child, id, index);
    }

    /// The tabs of a notebook, found by asking the notebook which tab lies
    /// under points along its top edge (the toolkit tells no tab's place);
    /// kept while the notebook's size, pages and selection stay, and asked
    /// again while a tab is not found (the toolkit places new tabs only
    /// when it next lays the notebook out).
    void tabs(wxNotebook* book, int id) {
        const int pages = static_cast<int>(book->GetPageCount());
        if (pages == 0) return;
        struct Tabs {
            wxSize size;
            wxString titles;  // every page's, one after the other
            int selection = -1;
            std::vector<wxRect> rects;  // in the notebook's coordinates; empty: not found
        };
        static std::map<const wxNotebook*, Tabs> known;  // GUI thread only
        wxString titles;
        for (int page = 0; page < pages; ++page)
            titles << book->GetPageText(static_cast<size_t>(page)) << '\n';
        const Tabs& cached = known[book];
        const wxSize size = book->GetSize();
        const bool missing = std::any_of(cached.rects.begin(), cached.rects.end(),
                                         [](const wxRect& rect) { return rect.IsEmpty(); });
        if (missing || cached.size != size || cached.titles != titles ||
            cached.selection != book->GetSelection()) {
            if (known.size() > 16) known.clear();
            Tabs& fresh = known[book];
            fresh.size = size;
            fresh.titles = titles;
            fresh.selection = book->GetSelection();
            fresh.rects.assign(static_cast<std::size_t>(pages), wxRect());
            for (int y = 2; y < std::min(size.y, 48); y += 4)
                for (int x = 0; x < size.x; x += 4) {
                    long flags = 0;
                    const int page = book->HitTest(wxPoint(x, y), &flags);
                    if (page < 0 || page >= pages) continue;
                    wxRect& rect = fresh.rects[static_cast<std::size_t>(page)];
                    rect = rect.IsEmpty() ? wxRect(x, y, 1, 1) : rect.Union(wxRect(x, y, 1, 1));
                }
        }
        const Tabs& found = known[book];
        for (int page = 0; page < pages; ++page) {
            const wxRect& rect = found.rects[static_cast<std::size_t>(page)];
            if (rect.IsEmpty()) continue;
            item(id, page, wxRect(book->GetScreenPosition() + rect.GetPosition(), rect.GetSize()),
                 book->GetSelection() == page, book->GetPageText(static_cast<size_t>(page)));
        }
    }

    int m_lines = 0;
};

}  // namespace

std::unique_ptr<WidgetMap> WidgetMap::fromEnvironment() {
    const char* path = std::getenv(kVariable);
    if (path == nullptr || *path == '\0') return nullptr;
    return std::make_unique<WidgetMap>(path, std::chrono::milliseconds(100));
}

WidgetMap::WidgetMap(std::string path, std::chrono::milliseconds period) : m_path(std::move(path)) {
    FRM_ASSERT_GUI_THREAD();
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { update(); });
    m_timer.Start(static_cast<int>(period.count()));
}

WidgetMap::~WidgetMap() { m_timer.Stop(); }

std::string WidgetMap::describe() {
    FRM_ASSERT_GUI_THREAD();
    Listing listing;
    for (wxWindow* top : wxTopLevelWindows)
        if (top->IsShownOnScreen()) listing.window(top, 0);
    return listing.text;
}

bool WidgetMap::update() {
    const std::string now = describe();
    if (m_wrote && now == m_written) return false;
    const std::string beside = m_path + ".new";
    std::FILE* file = std::fopen(beside.c_str(), "w");
    if (file == nullptr) return false;
    const bool whole = std::fwrite(now.data(), 1, now.size(), file) == now.size();
    if (std::fclose(file) != 0 || !whole || std::rename(beside.c_str(), m_path.c_str()) != 0) {
        std::remove(beside.c_str());
        return false;
    }
    m_written = now;
    m_wrote = true;
    return true;
}

}  // namespace frm
