#pragma once

#include <wx/frame.h>
#include <wx/sizer.h>

#include <boost/filesystem/operations.hpp>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/text.h"
#include "gui/scheduler_control.h"
#include "gui/source_service_panel.h"
#include "tests/base/wx/wx_app.h"

// A message page in a frame of its own, with its controls and handlers in
// reach, a scheduler page and a file-use check that the test controls, and
// folders of the test for the messages, the recordings and the gongs.
namespace message_testing {

struct FakeScheduler : frm::ISchedulerControl {
    std::set<std::wstring> used;
    std::vector<std::wstring> asked;
    void renamePlaylist(const std::wstring&, const std::wstring&) override {}
    bool existPlaylist(const std::wstring& name) override {
        asked.push_back(name);
        return used.count(name) > 0;
    }
};

class Page : public frm::SourceServicePanel {
public:
    using frm::SourceServicePanel::SourceServicePanel;
    using Layout = frm::fb::SourceServicePanel;
    using Layout::action, Layout::execute, Layout::filePanel, Layout::gong, Layout::message,
        Layout::messageTree, Layout::name, Layout::namePanel, Layout::play, Layout::status, Layout::stop;

    /// Chooses an action as the operator does: the radio box's event.
    void choose(int chosen) {
        action->SetSelection(chosen);
        wxCommandEvent event(wxEVT_RADIOBOX, action->GetId());
        event.SetInt(chosen);
        event.SetEventObject(action);
        action->GetEventHandler()->ProcessEvent(event);
    }
    static void click(wxWindow* button) {
        wxCommandEvent event(wxEVT_BUTTON, button->GetId());
        event.SetEventObject(button);
        button->GetEventHandler()->ProcessEvent(event);
    }
    /// Runs the chosen action with this name typed.
    void run(const std::wstring& text) {
        name->ChangeValue(text);
        click(execute);
    }
    /// The top-level item, or the item below it, by label.
    wxTreeItemId item(const std::wstring& top, const std::wstring& below = {}) const {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId group = messageTree->GetFirstChild(messageTree->GetRootItem(), cookie);
             group.IsOk(); group = messageTree->GetNextChild(messageTree->GetRootItem(), cookie)) {
            if (messageTree->GetItemText(group) != top) continue;
            if (below.empty()) return group;
            wxTreeItemIdValue inner;
            for (wxTreeItemId child = messageTree->GetFirstChild(group, inner); child.IsOk();
                 child = messageTree->GetNextChild(group, inner))
                if (messageTree->GetItemText(child) == below) return child;
        }
        return wxTreeItemId();
    }
    /// "Group{Message Message} Group{}" in tree order.
    std::wstring shape() const { return shapeBelow(messageTree->GetRootItem()); }
    /// The titles of every message, as the scheduler gets them.
    std::vector<std::wstring> titles() {
        std::vector<std::wstring> names;
        for (const auto& track : collectTracks()) names.push_back(track->getName());
        return names;
    }

private:
    std::wstring shapeBelow(const wxTreeItemId& parent) const {
        std::wstring text;
        wxTreeItemIdValue cookie;
        for (wxTreeItemId child = messageTree->GetFirstChild(parent, cookie); child.IsOk();
             child = messageTree->GetNextChild(parent, cookie)) {
            if (!text.empty()) text += L" ";
            text += messageTree->GetItemText(child).ToStdWstring();
            if (messageTree->ItemHasChildren(child) || parent == messageTree->GetRootItem())
                text += L"{" + shapeBelow(child) + L"}";
        }
        return text;
    }
};

/// The folders of one test: "data" (the data folder, whose "service",
/// "alarm" and "record" the empty settings mean) and "gongs".
class Folders {
public:
    explicit Folders(const std::string& root) : m_root(root) {}

    /// A file below the root (an empty one unless bytes are given).
    std::wstring put(const std::string& relative, const std::string& bytes = std::string(1, '\0')) const {
        const std::string path = m_root + "/" + relative;
        boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return base::fromUtf8(path);
    }
    std::wstring path(const std::string& relative) const { return base::fromUtf8(m_root + "/" + relative); }

    /// MP3 files only, gongs from "gongs", the data folder "data"; the
    /// scheduler's file-use check is the test's.
    frm::SourceServicePanel::Outside outside(std::set<std::wstring>* usedFiles,
                                             std::vector<std::wstring>* checked) const {
        frm::SourceServicePanel::Outside outside;
        outside.fileMasks = [] { return std::wstring(L"*.mp3"); };
        const std::wstring gongs = path("gongs");
        outside.gongFiles = [gongs] { return getFilesByMask(false, gongs, L"*.mp3"); };
        outside.dataFolder = path("data");
        outside.usedByScheduler = [usedFiles, checked](const std::wstring& file) {
            checked->push_back(file);
            return usedFiles->count(file) > 0;
        };
        return outside;
    }

private:
    std::string m_root;
};

/// A frame of its own around the page, shown.
inline wxFrame* showInFrame(wxWindow* page) {
    wxWindow* frame = page->GetParent();
    frame->SetSizer(new wxBoxSizer(wxVERTICAL));
    frame->GetSizer()->Add(page, 1, wxEXPAND);
    frame->Show();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([frame] { return frame->IsShownOnScreen(); }));
    return static_cast<wxFrame*>(frame);
}

}  // namespace message_testing
