#pragma once

#include <functional>
#include <memory>
#include <string>

#include "audio/channel_host.h"

namespace frm {

/// The channels' way to the GUI thread in the program: tasks go through the
/// GUI-thread invoker, and the alarm channel's Yes/No question is asked on
/// the GUI thread while the asking worker waits (a worker never shows a
/// dialog itself on wxGTK).
class InvokerChannelGui : public ChannelGui {
public:
    /// Shows the question and returns the answer; runs on the GUI thread.
    using Question = std::function<bool(const std::wstring& caption, const std::wstring& text)>;

    /// The default question is a centred Yes/No box shown through frm::ui
    /// (a stop request that ends it answers No).
    explicit InvokerChannelGui(Question question = Question());

    bool exists() override;
    void post(boost::function<void()> task) override;
    /// Asked directly on the GUI thread; from a worker, queued to it and
    /// waited for. No when the invoker stops before the operator answered.
    bool askYesNo(const std::wstring& caption, const std::wstring& text) override;

private:
    Question m_question;
};

/// The window's play on the common channel (the playlists' and the media
/// pages' play): `play` runs at once, unless a notice that loudspeakers took
/// over with one of their own left them behind. Then the alarm channel's
/// request thread asks them and puts them back on channel 0, and `play` runs
/// on the GUI thread after that, while `alive` has not expired; not at all
/// while they still play their own. The window never waits for the
/// loudspeakers. GUI thread.
void playOnCommonChannel(std::weak_ptr<const void> alive, std::function<void()> play);

}  // namespace frm
