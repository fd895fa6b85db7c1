// The peer of the start-up benchmark: the least a wx program does to show a
// frame of the main window's size (1024 x 700 raised to the minimum width
// of 1060).
#include <wx/app.h>
#include <wx/frame.h>

namespace {

class EmptyFrameApp : public wxApp {
public:
    bool OnInit() override {
        auto* frame = new wxFrame(nullptr, wxID_ANY, "wx empty frame", wxDefaultPosition, wxSize(1060, 700));
        frame->Show();
        return true;
    }
};

}  // namespace

wxIMPLEMENT_APP(EmptyFrameApp);
