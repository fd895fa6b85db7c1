#include "tests/trial/widget_listing.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace trial {

namespace {

/// The fields of one line: name=value pairs, values quoted with \" \\ \n
/// \t escaped or bare up to the next blank.
std::vector<std::pair<std::string, std::string>> fields(const std::string& line) {
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t at = line.find(' ');
    while (at != std::string::npos && at < line.size()) {
        while (at < line.size() && line[at] == ' ') ++at;
        const std::size_t equals = line.find('=', at);
        if (equals == std::string::npos) break;
        const std::string name = line.substr(at, equals - at);
        std::string value;
        std::size_t next = equals + 1;
        if (next < line.size() && line[next] == '"') {
            for (++next; next < line.size() && line[next] != '"'; ++next) {
                if (line[next] == '\\' && next + 1 < line.size()) {
                    const char escaped = line[++next];
                    value += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
                } else {
                    value += line[next];
                }
            }
            ++next;  // the closing quote
        } else {
            const std::size_t end = line.find(' ', next);
            value = line.substr(next, end == std::string::npos ? std::string::npos : end - next);
            next = end;
        }
        out.emplace_back(name, value);
        at = next;
    }
    return out;
}

Rect rectOf(const std::string& text) {
    Rect rect;
    std::sscanf(text.c_str(), "%d,%d,%d,%d", &rect.x, &rect.y, &rect.width, &rect.height);
    return rect;
}

int number(const std::string& text) { return std::atoi(text.c_str()); }

}  // namespace

WidgetListing WidgetListing::parse(const std::string& text) {
    WidgetListing listing;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("window ", 0) == 0) {
            Widget widget;
            for (const auto& [name, value] : fields(line)) {
                if (name == "id")
                    widget.id = number(value);
                else if (name == "parent")
                    widget.parent = number(value);
                else if (name == "type")
                    widget.type = value;
                else if (name == "class")
                    widget.toolkitClass = value;
                else if (name == "rect")
                    widget.rect = rectOf(value);
                else if (name == "enabled")
                    widget.enabled = value == "1";
                else if (name == "focus")
                    widget.focus = value == "1";
                else if (name == "label")
                    widget.label = value;
                else if (name == "tip")
                    widget.tip = value;
                else if (name == "value")
                    widget.value = value;
            }
            if (widget.id > 0) listing.m_widgets.push_back(std::move(widget));
        } else if (line.rfind("item ", 0) == 0) {
            Item item;
            int of = 0;
            for (const auto& [name, value] : fields(line)) {
                if (name == "of")
                    of = number(value);
                else if (name == "index")
                    item.index = number(value);
                else if (name == "rect")
                    item.rect = rectOf(value);
                else if (name == "selected")
                    item.selected = value == "1";
                else if (name == "title")
                    item.title = value;
                else if (name == "hw")
                    item.hardware = value;
                else if (name == "image")
                    item.image = number(value);
            }
            if (!listing.m_widgets.empty() && listing.m_widgets.back().id == of)
                listing.m_widgets.back().items.push_back(std::move(item));
        }
    }
    return listing;
}

const Widget* WidgetListing::find(const Test& test) const {
    for (const Widget& widget : m_widgets)
        if (test(widget)) return &widget;
    return nullptr;
}

std::vector<const Widget*> WidgetListing::all(const Test& test) const {
    std::vector<const Widget*> found;
    for (const Widget& widget : m_widgets)
        if (test(widget)) found.push_back(&widget);
    return found;
}

const Widget* WidgetListing::control(const std::string& type, const std::string& label) const {
    return find(ofType(type, label));
}

const Widget* WidgetListing::window(const std::string& title) const {
    return find([&](const Widget& widget) { return widget.parent == 0 && widget.label == title; });
}

const Widget* WidgetListing::byId(int id) const {
    for (const Widget& widget : m_widgets)
        if (widget.id == id) return &widget;
    return nullptr;
}

bool WidgetListing::inside(const Widget& widget, const Widget& ancestor) const {
    for (const Widget* up = byId(widget.parent); up != nullptr; up = byId(up->parent))
        if (up->id == ancestor.id) return true;
    return false;
}

const Widget* WidgetListing::findInside(const Widget& ancestor, const Test& test) const {
    return find([&](const Widget& widget) { return test(widget) && inside(widget, ancestor); });
}

const Item* WidgetListing::deviceItem(const std::string& hardware) const {
    for (const Widget& widget : m_widgets)
        for (const Item& item : widget.items)
            if (item.hardware == hardware) return &item;
    return nullptr;
}

bool iconAnswering(int image) {
    return image >= 0 && image != 0 && image != 3 && image != 4 && image != 9 && image != 11;
}

std::string plainLabel(const std::string& label) {
    std::string plain;
    for (std::size_t i = 0; i < label.size(); ++i) {
        if (label[i] == '&' && i + 1 < label.size()) ++i;  // "&&" stands for one "&"
        plain += label[i];
    }
    return plain;
}

WidgetListing::Test ofType(const std::string& type, std::optional<std::string> label) {
    return [type, label](const Widget& widget) {
        return widget.type == type && (!label || plainLabel(widget.label) == *label);
    };
}

const Widget* WidgetListing::fieldBeside(const std::string& label) const {
    const Widget* caption =
        find([&](const Widget& w) { return w.type == "wxStaticText" && plainLabel(w.label) == label; });
    if (caption == nullptr) return nullptr;
    const Widget* nearest = nullptr;
    for (const Widget& widget : m_widgets) {
        if (widget.type != "wxTextCtrl" || widget.rect.x <= caption->rect.x) continue;
        if (std::abs(widget.rect.centreY() - caption->rect.centreY()) > caption->rect.height) continue;
        if (nearest == nullptr || widget.rect.x < nearest->rect.x) nearest = &widget;
    }
    return nearest;
}

}  // namespace trial
