// The removable-medium page over a fixture mount table and sysfs, whose
// "medium" is a folder of the test, with the program's player (fixture
// plug-ins that play until stopped).
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>

#include "audio/playlist.h"
#include "base/storage.h"
#include "gui/device_playback_store.h"
#include "gui/source_device_panel.h"
#include "tests/gui/player_site.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"

using namespace page_testing;
using namespace std::chrono_literals;
namespace fs = boost::filesystem;

namespace {

class Page : public frm::SourceDevicePanel {
public:
    using frm::SourceDevicePanel::m_driveButtons, frm::fb::SourceDevicePanel::trackList,
        frm::fb::SourceDevicePanel::controlPanel, frm::fb::SourceDevicePanel::play;
    using frm::SourceDevicePanel::SourceDevicePanel;
};

class MediumPage : public PlayerSite {
protected:
    void SetUp() override {
        PlayerSite::SetUp();
        const std::string usb = "devices/pci0000:00/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
        fs::create_directories(sys / usb / "sdb1");
        std::ofstream((sys / usb / "removable").string()) << "0\n";
        std::ofstream((sys / usb / "sdb1/partition").string()) << "1\n";
        fs::create_directories(sys / "devices/ata2/block/sr0");
        fs::create_directories(sys / "dev/block");
        fs::create_directory_symlink("../../" + usb + "/sdb1", sys / "dev/block/8:17");
        fs::create_directory_symlink("../../devices/ata2/block/sr0", sys / "dev/block/11:0");
        fs::create_directories(dvd);
        // A folder's files come before its sub-folders'.
        first = file("media/USB STICK/Первая.mp3");
        second = file("media/USB STICK/Альбом/Вторая.mp3");
        file("media/USB STICK/readme.txt");
        mount(true);

        frm::SourceDevicePanel::Options options;
        options.procRoot = m_dir.path();
        options.sysRoot = sys.string();
        options.watchTick = 20ms;
        page = new Page(new wxFrame(nullptr, wxID_ANY, "drives", wxPoint(0, 0), wxSize(900, 400)), options);
        frame = frameAround(page);
    }
    void TearDown() override {
        page->stopThread();
        frame->Destroy();
        wx_testing::runEventLoopFor(20ms);
        PlayerSite::TearDown();
    }
    void mount(bool stick) {
        std::ofstream(m_dir.path() + "/mountinfo")
            << "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
            << (stick ? "40 21 8:17 / " + m_dir.path() + "/media/USB\\040STICK rw - vfat /dev/sdb1 rw\n" : "")
            << "41 21 11:0 / " + dvd.string() + " ro - iso9660 /dev/sr0 ro\n";
    }
    void clickDrive(std::size_t index) { click(page->m_driveButtons.at(index)); }
    std::vector<std::wstring> titles() const { return column(page->trackList, 0); }
    frm::DevicePlayback saved() {
        page->save(base::fromUtf8(stateFile));
        frm::DevicePlayback state;
        EXPECT_TRUE(frm::readDevicePlayback(base::fromUtf8(stateFile), state));
        return state;
    }

    const fs::path sys = fs::path(m_dir.path()) / "sys";
    const fs::path dvd = fs::path(m_dir.path()) / "media/DVD";
    const std::string stateFile = m_dir.path() + "/device_playback.xml";
    const std::wstring stick = base::fromUtf8(m_dir.path() + "/media/USB STICK");
    std::wstring first, second;
    wxFrame* frame = nullptr;
    Page* page = nullptr;
};

}  // namespace

TEST_F(MediumPage, AChosenMediumIsListedPlayedAndSaved) {
    page->refreshDrives();
    ASSERT_EQ(page->m_driveButtons.size(), 2u);
    EXPECT_EQ(page->m_driveButtons[0]->GetToolTipText(), stick) << "removable first";
    EXPECT_EQ(page->m_driveButtons[1]->GetToolTipText(), dvd.wstring());
    EXPECT_FALSE(page->controlPanel->IsShown());
    EXPECT_TRUE(saved().disk.empty());

    clickDrive(0);
    EXPECT_EQ(titles(), (std::vector<std::wstring>{L"Первая", L"Вторая"}));
    EXPECT_TRUE(page->controlPanel->IsShown());
    wx_testing::writeShot(frame, "drives_page");
    ui_testing::ScriptedUi answers;
    answers.expect(L"Сообщение", wxID_NO);
    clickDrive(1);
    EXPECT_EQ(titles().size(), 2u) << "kept on No";

    const frm::DevicePlayback idle = saved();
    EXPECT_EQ(idle.disk, stick);
    EXPECT_EQ(idle.current, first);
    EXPECT_FALSE(idle.playback);

    mouse(page->trackList, wxEVT_LEFT_DCLICK, 1);
    EXPECT_TRUE(
        wx_testing::runEventLoopUntil([this] { return green(page->trackList) == std::vector<long>{1}; }));
    EXPECT_EQ(saved().current, second);
    EXPECT_TRUE(saved().playback);

    auto other = boost::make_shared<Playlist>(L"Музыка", true);
    other->add(L"x", file("x.mp3"));
    Player::play(other);
    EXPECT_FALSE(saved().playback) << "another page's playlist plays";
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return green(page->trackList).empty(); }));
}

TEST_F(MediumPage, LoadingPlaysFromTheSavedItemOnlyFromAMediumThatIsThere) {
    const auto state = [this](const std::wstring& disk, const std::wstring& current) {
        storage::save(base::fromUtf8(stateFile), frm::devicePlaybackTree({disk, current, true}));
    };
    state(stick, second);
    page->load(base::fromUtf8(stateFile));
    ASSERT_TRUE(playing());
    EXPECT_EQ(Player::getPlaylist(), page->getPlaylist());
    EXPECT_EQ(plays().back(), base::toUtf8(second));

    Player::reset();
    state(stick, L"/elsewhere.mp3");
    page->load(base::fromUtf8(stateFile));
    EXPECT_EQ(plays().back(), base::toUtf8(first)) << "from the start";

    Player::reset();
    const std::size_t before = plays().size();
    state(base::fromUtf8(m_dir.path()), first);  // no drive: not listed, not played
    page->load(base::fromUtf8(stateFile));
    EXPECT_TRUE(page->getPlaylist()->isEmpty());
    EXPECT_EQ(plays().size(), before);
    EXPECT_FALSE(playing());
}

TEST_F(MediumPage, APulledMediumStopsThePlayerAndItsListGoesOnTheNextShowing) {
    page->refreshDrives();
    clickDrive(0);
    Player::play(page->getPlaylist());
    ASSERT_TRUE(playing());
    wx_testing::runEventLoopFor(100ms);  // five ticks: the watcher has seen the file on the stick
    mount(false);                        // the folder stays behind, as an fstab mount point does
    EXPECT_TRUE(wx_testing::runEventLoopUntil([] { return !playing(); }));
    EXPECT_EQ(loggedCount("Носитель '" + base::toUtf8(stick) + "' был удален", "ERROR"), 1);
    EXPECT_EQ(titles().size(), 2u) << "until the page is shown again";

    page->refreshDrives();
    EXPECT_EQ(page->m_driveButtons.size(), 1u);
    EXPECT_TRUE(titles().empty());
    EXPECT_EQ(page->getPlaylist()->getName(), stick);
    EXPECT_TRUE(page->getPlaylist()->isEmpty());
    EXPECT_FALSE(page->controlPanel->IsShown());
}
