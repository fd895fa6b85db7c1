#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trial {

/// A rectangle in screen pixels.
struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    int centreX() const { return x + width / 2; }
    int centreY() const { return y + height / 2; }
    bool empty() const { return width <= 0 || height <= 0; }
};

/// One item of a control: a device icon, a list row, a tree item, a tab.
struct Item {
    long index = 0;
    Rect rect;
    bool selected = false;
    std::string title;
    std::string hardware;  // a device row's hardware address
    int image = -1;        // the state icon a device row shows
};

/// One window or control of the program's widget map (gui/widget_map.h).
struct Widget {
    int id = 0;
    int parent = 0;    // 0: a top-level window
    std::string type;  // the C++ class: "wxButton", "frm::IconGrid"
    std::string toolkitClass;
    Rect rect;
    bool enabled = false;
    bool focus = false;
    std::string label;
    std::string tip;
    std::optional<std::string> value;
    std::vector<Item> items;
};

/// The program's widget map as read from its file: every window on screen
/// at one moment, in tree order.
class WidgetListing {
public:
    using Test = std::function<bool(const Widget&)>;

    /// Reads the listing; lines that do not read are left out.
    static WidgetListing parse(const std::string& text);

    const std::vector<Widget>& widgets() const { return m_widgets; }
    bool empty() const { return m_widgets.empty(); }

    /// The first widget that passes, in tree order; null when none does.
    const Widget* find(const Test& test) const;
    std::vector<const Widget*> all(const Test& test) const;
    /// The widget of that type and label (the label as the toolkit has it,
    /// "\n" included); null when none is shown.
    const Widget* control(const std::string& type, const std::string& label) const;
    /// The top-level window with that title.
    const Widget* window(const std::string& title) const;
    /// Whether `widget` lies inside the window or control `ancestor`.
    bool inside(const Widget& widget, const Widget& ancestor) const;
    /// The first widget inside `ancestor` that passes.
    const Widget* findInside(const Widget& ancestor, const Test& test) const;
    /// The item with that hardware address, of any control.
    const Item* deviceItem(const std::string& hardware) const;
    /// The text field on the row of the static text `label`, to its right
    /// (a form's field by its caption).
    const Widget* fieldBeside(const std::string& label) const;

private:
    const Widget* byId(int id) const;

    std::vector<Widget> m_widgets;
};

/// Whether a device row's state icon shows the device answering: neither
/// the offline icon nor the one of a device heard but not yet answering
/// (the zone page's icon table, gui/device_view.h: 0 and 9 offline, 3, 4
/// and 11 heard only).
bool iconAnswering(int image);

/// A label as the operator reads it: without the mnemonic markers ("&Применить").
std::string plainLabel(const std::string& label);

/// A test that matches a widget of that type (and label, when one is given,
/// compared as plainLabel).
WidgetListing::Test ofType(const std::string& type, std::optional<std::string> label = std::nullopt);

}  // namespace trial
