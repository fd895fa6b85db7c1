#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/layout/scenario_dialog.h"

namespace device::memory {
class IAudioControl;
}

namespace frm {

/// Composes a scenario of a device's audio memory (a message the device
/// plays by itself): a name, a gong fragment, a message fragment and a
/// repeat period, and adds it to the memory's edited copy through the audio
/// control; the property panel writes it to the device later. The name
/// follows the chosen fragment's title until the operator types one. Both
/// fragments must be chosen. Errors of the audio control reach the caller.
/// Built for one modal showing; GUI thread only.
class ScenarioDialog : public fb::ScenarioDialog {
public:
    /// An empty `audio` is an internal error.
    ScenarioDialog(wxWindow* parent, boost::shared_ptr<device::memory::IAudioControl> audio);

protected:
    void fragmentOnChoice(wxCommandEvent& event) override;
    void saveOnButtonClick(wxCommandEvent& event) override;
    void cancelOnButtonClick(wxCommandEvent& event) override;

private:
    const boost::shared_ptr<device::memory::IAudioControl> m_audio;
    /// The fragment ids behind the items of both choices, in item order.
    std::vector<std::uint16_t> m_ids;
    /// The name last filled in from a fragment's title.
    wxString m_lastAutoName;
};

}  // namespace frm
