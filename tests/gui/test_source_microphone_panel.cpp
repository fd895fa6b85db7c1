// ctest-labels: net
// The microphone page over the program's alarm channel and notification
// stream, with a WAV file of tones standing in for the capture device (libvlc
// opens "file://..." where a microphone's name would stand), a real device
// collection with one simulated loudspeaker that answers and one that never
// does, and a scheduler core. The data folder is a temporary one; the
// runtime folder, where a recording is made, lies on another file system
// (/dev/shm) when the machine has one, so that saving moves across them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/sizer.h>

#include <algorithm>
#include <atomic>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "audio/playback.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "base/wx/gui_thread_invoker.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/channel_gui.h"
#include "gui/item_data_map.h"
#include "gui/recorded_messages.h"
#include "gui/source_microphone_panel.h"
#include "os/data_directory.h"
#include "scheduler/core.h"
#include "tests/base/wx/wx_app.h"
#include "tests/gui/screenshot.h"
#include "tests/gui/ui_script.h"
#include "tests/support/child_process.h"
#include "tests/support/counting_log_fixture.h"
#include "tests/support/wav_file.h"
#include "tools/simulator/orvel_band_model.h"
#include "tools/simulator/simulator.h"
#include "tools/stream_probe.h"

using namespace std::chrono_literals;
namespace fs = boost::filesystem;

namespace {

const std::wstring kCaption = L"Сообщение";
const std::vector<double> kVoice = {600, 1000};
// Where a broadcast of the page is heard: the notification channel of
// priority 2 (6) above the loudspeaker's channel 0, on a group of this test
// program's own.
const std::string kGroup = "224.0.224.71";
const std::uint16_t kNoticePort = 14771;

/// The page with its layout's controls in reach.
class Page : public frm::SourceMicrophonePanel {
public:
    using frm::fb::SourceMicrophonePanel::buttonRecordSave,
        frm::fb::SourceMicrophonePanel::buttonStartAndStop, frm::fb::SourceMicrophonePanel::checkBoxBroadcast,
        frm::fb::SourceMicrophonePanel::checkBoxRecord, frm::fb::SourceMicrophonePanel::controlPanel,
        frm::fb::SourceMicrophonePanel::deleteRecord, frm::fb::SourceMicrophonePanel::gong,
        frm::fb::SourceMicrophonePanel::gongEnable, frm::fb::SourceMicrophonePanel::listCtrlRecord,
        frm::fb::SourceMicrophonePanel::radioBoxRecordSource, frm::fb::SourceMicrophonePanel::recordName;
    using frm::SourceMicrophonePanel::SourceMicrophonePanel;
};

void send(wxWindow* control, wxEvent& event) {
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

void click(wxButton* button) {
    wxCommandEvent event(wxEVT_BUTTON, button->GetId());
    send(button, event);
}

/// The operator ticks or clears a check box.
void tick(wxCheckBox* box, bool on) {
    box->SetValue(on);
    wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
    event.SetInt(on ? 1 : 0);
    send(box, event);
}

void chooseSource(wxRadioBox* box, int selection) {
    box->SetSelection(selection);
    wxCommandEvent event(wxEVT_RADIOBOX, box->GetId());
    event.SetInt(selection);
    send(box, event);
}

void keyUp(wxListCtrl* list, int key, bool control = false) {
    wxKeyEvent event(wxEVT_KEY_UP);
    event.m_keyCode = key;
    event.SetControlDown(control);
    send(list, event);
}

/// The test's microphone: a FIFO that libvlc opens as "file://...", fed by
/// a thread of the test with a WAV stream of one tone in real time for as
/// long as a reader holds it open, and again for the next reader. (A WAV
/// file would be read as fast as the disk gives it and end at once.)
class LiveVoice {
public:
    LiveVoice(std::string path, double tone) : m_path(std::move(path)), m_tone(tone) {
        std::signal(SIGPIPE, SIG_IGN);  // a reader that goes shows as EPIPE
        ::mkfifo(m_path.c_str(), 0600);
        m_thread = std::thread([this] { feed(); });
    }
    ~LiveVoice() {
        m_stop = true;
        m_thread.join();
        ::unlink(m_path.c_str());
    }
    const std::string& path() const { return m_path; }

private:
    void feed() {
        while (!m_stop) {
            const int fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until a reader opens
            if (fd < 0) {
                std::this_thread::sleep_for(10ms);
                continue;
            }
            std::string header = testing_support::wavFile({}, 44100, 1);
            header.replace(4, 4, "\xFF\xFF\xFF\x7F").replace(40, 4, "\xFF\xFF\xFF\x7F");  // endless
            bool open = ::write(fd, header.data(), header.size()) == static_cast<ssize_t>(header.size());
            const std::string chunk =
                testing_support::pcmBytes(stream_probe::stepped_tone({m_tone}, 50, 44100, 1));
            auto next = std::chrono::steady_clock::now();
            while (open && !m_stop) {
                // A full pipe drops the chunk rather than block the test's end.
                open = ::write(fd, chunk.data(), chunk.size()) >= 0 || errno == EAGAIN;
                next += 50ms;
                std::this_thread::sleep_until(next);
            }
            ::close(fd);
        }
    }

    const std::string m_path;
    const double m_tone;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// A folder on another file system than the data folder when there is one.
std::string runtimeFolder() {
    char pattern[] = "/dev/shm/sonvar-runtime-XXXXXX";
    if (const char* made = ::mkdtemp(pattern)) return made;
    char fallback[] = "/tmp/sonvar-runtime-XXXXXX";
    return ::mkdtemp(fallback);
}

class MicrophonePage : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(base::fromUtf8(folder + "sonvar.cfg"));
        setPref("record.deviceName", "file://" + voice.path());
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        window->SetClientSize(941, 589);
        GuiThreadInvoker::createInstance(window);

        transport = boost::make_shared<device::TransferProtocol>(0, "");
        collection = device::DeviceCollection::create(transport, 15993);
        collection->setNewDeviceHandler(
            [this](const std::wstring&, const net::HardwareAddress&, const std::wstring&) { return ++ids; });
        transport->run();
        loudspeaker =
            &simulator.add("127.0.8.1", 0, std::make_unique<device::sim::OrvelBandModel>(address(1), 18));
        loudspeaker->startStatePackets({boost::asio::ip::make_address_v4("127.0.0.1"), transport->getPort()},
                                       200ms);
        simulator.start();
        quiet = collection->addDevice(++ids, L"Orvel-610", net::HardwareAddress(address(2)),
                                      net::Ip4Address("127.0.8.2"), L"Молчащий");
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [this] {
                speaker = collection->searchFor(net::HardwareAddress(address(1)));
                return speaker && speaker->isOnlineAndAnswered();
            },
            10s));

        root = frm::ZoneElement::createDetached(L"Все зоны");
        root->addElement(speaker);
        root->addElement(quiet);
        deviceList = new wxListCtrl(window, wxID_ANY, wxPoint(0, 0), wxSize(10, 10), wxLC_REPORT);
        deviceList->InsertColumn(0, L"");
        rows = {{speaker, root}, {quiet, root}};
        for (std::size_t row = 0; row < rows.size(); ++row) {
            deviceList->InsertItem(static_cast<long>(row), rows[row].device->getTitle());
            deviceList->SetItemPtrData(static_cast<long>(row), reinterpret_cast<wxUIntPtr>(&rows[row]));
        }
        deviceList->Hide();
        registry = std::make_unique<frm::ItemDataMap>(deviceList, root);

        stream.set_stream_fmt(128);
        stream.set_stream_ttl(1);
        stream.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.watcherPeriod = 1h;
        options.discoveryPort = [](device::OrvelInfo&) {
            return static_cast<std::uint16_t>(kNoticePort - 6);
        };
        setPref("multicast.address", kGroup);
        frm::AlarmChannel::createInstance(registry.get(), &channelGui, stream, options);

        page = new Page(
            window, registry.get(), [this](const std::wstring& text) { states.push_back(text); }, core);
        page->setMessageUseTests([this](const std::wstring& path) { return uses(serviceTexts, path); },
                                 [this](const std::wstring& path) { return uses(alarmTexts, path); });
        window->SetSizer(new wxBoxSizer(wxVERTICAL));
        window->GetSizer()->Add(page, 1, wxEXPAND);
        window->Show();
        window->Layout();
    }
    void TearDown() override {
        frm::AlarmChannel::destroyInstance();
        simulator.stop();
        transport->stop();
        base::ThreadDispatcher::destroy();
        collection->stop();
        GuiThreadInvoker::destroyInstance();
        window->Destroy();
        wx_testing::runEventLoopFor(50ms);
        pref_free();
        fs::remove_all(runtime);
        CountingLogFixture::TearDown();
    }

    static std::string address(int n) { return device::sim::Simulator::hardwareAddress(n); }
    static void setPref(const char* key, const std::string& value) {
        pref::Guard guard(g_pref);
        pref::create(g_pref, key, pref::Type::TypeString) = value;
    }
    static std::string prefString(const char* key) {
        pref::Guard guard(g_pref);
        const libconfig::Setting* setting = pref::find(g_pref, key, pref::Type::TypeString);
        return setting != nullptr ? setting->c_str() : "(missing)";
    }
    static bool uses(const std::vector<std::wstring>& texts, const std::wstring& path) {
        return std::any_of(texts.begin(), texts.end(),
                           [&](const std::wstring& text) { return path.find(text) != std::wstring::npos; });
    }
    /// Exactly these device rows selected.
    void select(const std::vector<frm::ItemDataMap::DevicePtr>& devices) {
        for (long row = 0; row < deviceList->GetItemCount(); ++row) {
            const bool on = std::find(devices.begin(), devices.end(), rows[row].device) != devices.end();
            deviceList->SetItemState(row, on ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
        }
        registry->refreshSnapshot();
    }
    bool idle() const {
        return page->buttonStartAndStop->GetLabel() == L"Старт" && page->controlPanel->IsEnabled() &&
               page->listCtrlRecord->IsEnabled() && !states.empty() && states.back().empty();
    }
    bool running() const {
        return page->buttonStartAndStop->GetLabel() == L"Стоп" && !page->controlPanel->IsEnabled() &&
               !page->listCtrlRecord->IsEnabled() && !states.empty() && states.back() == L"Запущено";
    }
    /// Starts a recording without loudspeakers and lets the capture run
    /// until the file holds about `seconds` of MP3 at 128 kbit/s (a loaded
    /// machine starts libvlc late).
    void record(double seconds = 1.5) {
        tick(page->checkBoxBroadcast, false);
        tick(page->checkBoxRecord, true);
        click(page->buttonStartAndStop);
        ASSERT_TRUE(running());
        const std::string made = runtime + "/sonvar/sonvar_record.mp3";
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [&] {
                boost::system::error_code error;
                const auto size = fs::file_size(made, error);
                return !error && size >= seconds * 16000;
            },
            20s));
    }
    /// A notice of someone else's on the channel: a recording at `priority`.
    bool foreignNotice(int priority, const std::wstring& description) {
        return frm::AlarmChannel::instance()->launch(frm::AlarmChannel::kMicrophone, false, frm::DeviceSet(),
                                                     L"", L"", base::fromUtf8(runtime + "/foreign.mp3"),
                                                     priority, 100, description,
                                                     frm::AlarmChannel::Callback(), false);
    }
    std::vector<std::wstring> rowTexts() const {
        std::vector<std::wstring> texts;
        for (long row = 0; row < page->listCtrlRecord->GetItemCount(); ++row)
            texts.push_back(page->listCtrlRecord->GetItemText(row).ToStdWstring());
        return texts;
    }
    std::string recordFolder() const { return base::toUtf8(page->recordDirectory()); }
    std::string recordFile(const std::string& name) const { return recordFolder() + name + ".mp3"; }

    testing_support::TempDir home{"microphone-page"};
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    const std::string runtime = runtimeFolder();
    testing_support::ScopedEnv runtimeHome{"XDG_RUNTIME_DIR", runtime.c_str()};
    const std::string folder = base::toUtf8(os::getUserDataDirectory()) + "/";
    LiveVoice voice{home.path() + "/voice.wav", kVoice[0]};

    wx_testing::TaskWindow* window = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    device::sim::Simulator simulator{1};
    device::sim::SimulatedDevice* loudspeaker = nullptr;
    std::atomic<std::uint32_t> ids{0};
    frm::ItemDataMap::DevicePtr speaker, quiet;
    frm::ZoneElement::Ptr root;
    wxListCtrl* deviceList = nullptr;
    std::vector<frm::DeviceRowData> rows;
    std::unique_ptr<frm::ItemDataMap> registry;
    mp3streamf stream;
    frm::InvokerChannelGui channelGui;
    scheduler::Core core;
    Page* page = nullptr;
    std::vector<std::wstring> states;
    std::vector<std::wstring> serviceTexts, alarmTexts;
};

}  // namespace

TEST_F(MicrophonePage, ARecordingWithoutLoudspeakersIsSavedUnderASafeNameOnly) {
    ui_testing::ScriptedUi answers;
    EXPECT_FALSE(page->recordName->IsEnabled());
    record();
    click(page->buttonStartAndStop);
    EXPECT_TRUE(idle());
    EXPECT_FALSE(frm::AlarmChannel::instance()->isRunning());
    const std::string made = runtime + "/sonvar/sonvar_record.mp3";
    ASSERT_TRUE(fs::is_regular_file(made));
    EXPECT_EQ(fs::status(runtime + "/sonvar").permissions(), fs::owner_all);
    EXPECT_TRUE(page->buttonRecordSave->IsEnabled());
    EXPECT_TRUE(page->recordName->IsEnabled());

    // Nothing typed, then names that would leave the folder or hide in it.
    for (const std::wstring name :
         {L"", L"../Вне", L"a/b", L"a\\b", L"..", L".", L"Строка\nдве", L"Таб\tуляция"}) {
        page->recordName->ChangeValue(name);
        answers.expect(kCaption, wxID_OK);
        click(page->buttonRecordSave);
        EXPECT_EQ(answers.shown().back().text,
                  name.empty() ? L"Введите название записи" : L"Недопустимое название записи");
    }
    EXPECT_TRUE(fs::is_regular_file(made));
    EXPECT_FALSE(fs::exists(folder + "Вне.mp3"));

    page->recordName->ChangeValue(L"Объявление 1");
    click(page->buttonRecordSave);
    EXPECT_FALSE(fs::exists(made));
    ASSERT_TRUE(fs::is_regular_file(recordFile("Объявление 1")));
    EXPECT_EQ(rowTexts(), std::vector<std::wstring>{L"Объявление 1"});
    EXPECT_FALSE(page->buttonRecordSave->IsEnabled());
    EXPECT_TRUE(page->recordName->IsEmpty());
    struct stat from {
    }, to{};
    if (::stat(runtime.c_str(), &from) == 0 && ::stat(recordFolder().c_str(), &to) == 0 &&
        from.st_dev == to.st_dev)
        std::cout << "note: the runtime folder and the data folder share a file system\n";

    // The capture source is what was recorded.
    const auto heard = stream_probe::decode_file(recordFile("Объявление 1"), home.path() + "/record.raw");
    EXPECT_GE(stream_probe::tone_counts(stream_probe::tone_track(heard, kVoice), 2)[0], 10);

    // A second recording under the same name is refused; the old one stays.
    record(0.3);
    click(page->buttonStartAndStop);
    page->recordName->ChangeValue(L"Объявление 1");
    answers.expect(L"Внимание!", wxID_OK);
    click(page->buttonRecordSave);
    EXPECT_NE(answers.shown().back().text.find(L"Файл с таким именем уже сущетвует."), std::wstring::npos);
    EXPECT_TRUE(fs::exists(made));
    EXPECT_EQ(rowTexts(), std::vector<std::wstring>{L"Объявление 1"});
}

TEST_F(MicrophonePage, TheChecksBeforeAStartRefuseInTheTablesOrder) {
    ui_testing::ScriptedUi answers;
    const auto refused = [&](const std::wstring& text, const std::string& line) {
        answers.expect(kCaption, wxID_OK);
        click(page->buttonStartAndStop);
        EXPECT_EQ(answers.shown().back().text, text);
        EXPECT_TRUE(logged(line)) << line;
        EXPECT_EQ(page->buttonStartAndStop->GetLabel(), L"Старт");
        EXPECT_FALSE(frm::AlarmChannel::instance()->isRunning());
    };
    refused(L"Выберите один из способов передачи", "type of translation is not selected");

    fs::create_directories(recordFolder());
    ASSERT_TRUE(stream_probe::write_mp3(recordFile("Первое"),
                                        stream_probe::stepped_tone({440}, 300, 44100, 1), 44100, 1));
    page->fillRecordList(page->recordDirectory());
    chooseSource(page->radioBoxRecordSource, 1);
    refused(L"Выберите сообщение для проигрывания", "message for playing isn't selected");
    page->listCtrlRecord->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    page->checkBoxRecord->SetValue(true);  // the source box clears it; only by hand
    refused(L"При проигрывании сообщения из списка, запись невозможна", "a record is forbidden");
    page->checkBoxRecord->SetValue(false);

    chooseSource(page->radioBoxRecordSource, 0);
    tick(page->checkBoxBroadcast, true);
    refused(L"Не выбрано ни одного устройства", "devices were not selected");
    select({quiet});
    refused(L"Не выбрано ни одного устройства в сети", "all devices are offline");
    select({quiet, speaker});
    tick(page->gongEnable, true);  // no gong folder: nothing to choose
    EXPECT_TRUE(page->gong->IsEnabled());
    EXPECT_EQ(page->gong->GetCount(), 0u);
    refused(L"Выберите гонг", "here needs a gong");

    // A choice that offers more than the page's gong files: an error of the
    // log (which shows it), no box of the page's own.
    page->gong->Append(L"Чужой");
    page->gong->SetSelection(0);
    click(page->buttonStartAndStop);
    EXPECT_TRUE(logged("Internal error. Gong index outside the range. (0 of 0)"));
    EXPECT_FALSE(frm::AlarmChannel::instance()->isRunning());
    EXPECT_TRUE(states.empty()) << "no refusal touches the state display";
}

TEST_F(MicrophonePage, TheListSourceClearsTheTransferModesAndTheMicrophoneRestoresThem) {
    ui_testing::ScriptedUi answers;
    record(0.3);
    click(page->buttonStartAndStop);
    ASSERT_TRUE(page->buttonRecordSave->IsEnabled());
    tick(page->checkBoxBroadcast, true);
    tick(page->gongEnable, true);

    chooseSource(page->radioBoxRecordSource, 1);
    EXPECT_FALSE(page->checkBoxRecord->GetValue());
    EXPECT_TRUE(page->checkBoxBroadcast->GetValue());
    for (wxWindow* control : std::vector<wxWindow*>{page->checkBoxRecord, page->checkBoxBroadcast,
                                                    page->recordName, page->buttonRecordSave})
        EXPECT_FALSE(control->IsEnabled()) << control->GetLabel();
    EXPECT_TRUE(page->gongEnable->IsEnabled());
    EXPECT_TRUE(page->gong->IsEnabled());

    chooseSource(page->radioBoxRecordSource, 0);
    EXPECT_TRUE(page->checkBoxRecord->GetValue());
    EXPECT_TRUE(page->checkBoxBroadcast->GetValue());
    EXPECT_TRUE(page->recordName->IsEnabled());
    EXPECT_FALSE(page->buttonRecordSave->IsEnabled()) << "the recording is no longer offered after a change";

    // "Запись" alone before the list: "Трансляция" comes back cleared, and
    // the gong with it.
    tick(page->checkBoxBroadcast, false);
    EXPECT_FALSE(page->gongEnable->IsEnabled());
    EXPECT_FALSE(page->gong->IsEnabled());
    chooseSource(page->radioBoxRecordSource, 1);
    EXPECT_TRUE(page->gongEnable->IsEnabled());
    chooseSource(page->radioBoxRecordSource, 0);
    EXPECT_TRUE(page->checkBoxRecord->GetValue());
    EXPECT_FALSE(page->checkBoxBroadcast->GetValue());
    EXPECT_FALSE(page->gongEnable->IsEnabled());
    EXPECT_FALSE(page->gong->IsEnabled());
}

TEST_F(MicrophonePage, ABusyChannelIsInterruptedOnlyAtPriorityTwoAndOnlyAfterTheQuestion) {
    ui_testing::ScriptedUi answers;
    frm::AlarmChannel* channel = frm::AlarmChannel::instance();
    tick(page->checkBoxRecord, true);
    ASSERT_TRUE(foreignNotice(2, L"Чужая запись"));
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return stream.is_stream(); }, 20s));

    answers.expect(kCaption, wxID_NO);
    click(page->buttonStartAndStop);
    EXPECT_EQ(answers.shown().back().text, L"Канал занят. Описание: 'Чужая запись'\nПрервать?");
    EXPECT_EQ(answers.shown().back().buttons.size(), 2u);
    EXPECT_EQ(page->buttonStartAndStop->GetLabel(), L"Старт");
    EXPECT_TRUE(channel->isRunning());
    EXPECT_EQ(channel->getDescription(), L"Чужая запись");
    EXPECT_TRUE(states.empty());

    answers.expect(kCaption, wxID_YES);
    click(page->buttonStartAndStop);
    EXPECT_TRUE(running());
    EXPECT_EQ(channel->getDescription(), L"Запись с микрофона");
    click(page->buttonStartAndStop);
    EXPECT_TRUE(idle());

    ASSERT_TRUE(foreignNotice(3, L"Тревога"));
    answers.expect(kCaption, wxID_OK);
    click(page->buttonStartAndStop);
    EXPECT_EQ(answers.shown().back().text, L"Канал занят.");
    EXPECT_EQ(answers.shown().back().buttons.size(), 1u);
    EXPECT_EQ(page->buttonStartAndStop->GetLabel(), L"Старт");
    EXPECT_EQ(channel->getDescription(), L"Тревога");
    EXPECT_TRUE(channel->isRunning());
    channel->stop(frm::AlarmChannel::Callback());
}

TEST_F(MicrophonePage, ARecordingInUseByAMessageTreeStaysAndTheOthersAreDeleted) {
    ui_testing::ScriptedUi answers;
    fs::create_directories(recordFolder());
    for (const char* name : {"Альфа", "Бета", "Гамма", "Дельта"}) std::ofstream(recordFile(name)) << "mp3";
    page->fillRecordList(page->recordDirectory());
    ASSERT_EQ(page->listCtrlRecord->GetItemCount(), 4);
    // A file that cannot be removed: a folder with something in it.
    fs::remove(recordFile("Дельта"));
    fs::create_directories(recordFile("Дельта") + "/inside");
    serviceTexts = {L"/Альфа.mp3"};
    alarmTexts = {L"Бета.mp3"};

    EXPECT_FALSE(page->deleteRecord->IsEnabled());
    keyUp(page->listCtrlRecord, 'A', true);
    EXPECT_EQ(page->listCtrlRecord->GetSelectedItemCount(), 4);
    EXPECT_TRUE(page->deleteRecord->IsEnabled());
    click(page->deleteRecord);

    auto left = rowTexts();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"Альфа", L"Бета", L"Дельта"}));
    EXPECT_FALSE(fs::exists(recordFile("Гамма")));
    EXPECT_TRUE(fs::exists(recordFile("Альфа")));
    EXPECT_TRUE(fs::exists(recordFile("Бета")));
    auto notices = observedAt(L"NOTICE");
    std::sort(notices.begin(), notices.end());
    EXPECT_EQ(notices,
              (std::vector<std::wstring>{
                  L"Невозможно удалить сообщение 'Альфа', т.к. используется в служебных оповещениях",
                  L"Невозможно удалить сообщение 'Бета', т.к. используется в тревожных оповещениях"}));
    EXPECT_EQ(observedAt(L"WARN"), std::vector<std::wstring>{L"Не удалось удалить запись '" +
                                                             page->recordDirectory() + L"Дельта.mp3'"});
    EXPECT_EQ(page->listCtrlRecord->GetSelectedItemCount(), 0);
    EXPECT_EQ(page->listCtrlRecord->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED), -1);
    EXPECT_FALSE(page->deleteRecord->IsEnabled());

    // No longer in a tree: the Delete key removes it.
    serviceTexts.clear();
    const long alpha = page->listCtrlRecord->FindItem(-1, L"Альфа");
    ASSERT_GE(alpha, 0);
    page->listCtrlRecord->SetItemState(alpha, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    keyUp(page->listCtrlRecord, WXK_DELETE);
    EXPECT_FALSE(fs::exists(recordFile("Альфа")));
    EXPECT_EQ(page->listCtrlRecord->FindItem(-1, L"Альфа"), -1);
}

TEST_F(MicrophonePage, NoticesFromAnotherThreadBringThePageBackToIdleOnTheGuiThread) {
    ui_testing::ScriptedUi answers;
    frm::AlarmChannel* channel = frm::AlarmChannel::instance();

    // 5: the alarm page's "Стоп" ends the recording.
    record(0.5);
    std::thread([channel] { channel->stop(frm::AlarmChannel::Callback()); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    EXPECT_FALSE(channel->isRunning());
    EXPECT_TRUE(page->buttonRecordSave->IsEnabled()) << "what was recorded can still be saved";

    // 4: an alarm of higher priority, started by a scheduled task, replaces it.
    record(0.5);
    bool launched = false;
    std::thread([&] { launched = foreignNotice(3, L"Тревога"); }).join();
    EXPECT_TRUE(launched);
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    // A late end notice of the page's own, now idle, leaves the alarm alone.
    std::thread([this] { page->handlerNoticeCallack(frm::AlarmChannel::kMessageEnded); }).join();
    wx_testing::runEventLoopFor(200ms);
    EXPECT_TRUE(channel->isRunning());
    EXPECT_EQ(channel->getDescription(), L"Тревога");
    channel->stop(frm::AlarmChannel::Callback());

    // 3: the end of the page's broadcast stops the channel.
    record(0.5);
    std::thread([this] { page->handlerNoticeCallack(frm::AlarmChannel::kMessageEnded); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    EXPECT_FALSE(channel->isRunning());
    EXPECT_EQ(std::count(states.begin(), states.end(), L"Запущено"), 3);
}

TEST_F(MicrophonePage, ARecordedMessageIsBroadcastAfterTheGongAndThePageReturnsAtItsEnd) {
    ui_testing::ScriptedUi answers;
    fs::create_directories(folder + "gong");
    ASSERT_TRUE(stream_probe::write_mp3(folder + "gong/Гонг.mp3",
                                        stream_probe::stepped_tone({880}, 700, 44100, 1), 44100, 1));
    fs::create_directories(recordFolder());
    ASSERT_TRUE(stream_probe::write_mp3(recordFile("Объявление"),
                                        stream_probe::stepped_tone({kVoice[1]}, 1500, 44100, 1), 44100, 1));
    page->fillRecordList(page->recordDirectory());
    tick(page->checkBoxBroadcast, true);
    tick(page->gongEnable, true);
    ASSERT_EQ(page->gong->GetCount(), 1u);
    page->gong->SetSelection(0);
    chooseSource(page->radioBoxRecordSource, 1);
    page->listCtrlRecord->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    select({speaker});

    stream_probe::LiveReceiver receiver(kGroup, kNoticePort, home.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());
    click(page->buttonStartAndStop);
    ASSERT_TRUE(running());
    EXPECT_FALSE(page->deleteRecord->IsEnabled()) << "the message on air cannot be deleted";
    EXPECT_EQ(frm::AlarmChannel::instance()->getDescription(), L"Вещание сообщения (микрофон)");
    // The end of the message (3, on the GUI thread) stops the channel.
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }, 30s));
    EXPECT_FALSE(frm::AlarmChannel::instance()->isRunning());
    EXPECT_TRUE(page->deleteRecord->IsEnabled());
    EXPECT_EQ(pref::getInt("volume.microphone2", 0), 90);
    EXPECT_EQ(prefString("record.gongFileName"), "Гонг");

    std::vector<std::string> channels;
    for (const auto& datagram : loudspeaker->received())
        if (datagram.text.rfind("set ch", 0) == 0) channels.push_back(datagram.text.substr(0, 8));
    ASSERT_FALSE(channels.empty());
    EXPECT_EQ(channels.front(), "set ch 6");
    EXPECT_EQ(channels.back(), "set ch 0");
    const auto track = stream_probe::tone_track(receiver.samples(), {880, kVoice[1]});
    const auto counts = stream_probe::tone_counts(track, 2);
    EXPECT_GE(counts[0], 6) << "the gong";
    EXPECT_GE(counts[1], 15) << "the message";
    EXPECT_TRUE(stream_probe::tones_in_order(track));
}

TEST_F(MicrophonePage, ThePageAsTheOperatorFirstSeesIt) {
    EXPECT_TRUE(page->recordName->IsEmpty());
    EXPECT_EQ(page->recordName->GetHint(), L"Название");
    for (wxWindow* control : std::vector<wxWindow*>{page->recordName, page->buttonRecordSave,
                                                    page->deleteRecord, page->gongEnable, page->gong})
        EXPECT_FALSE(control->IsEnabled()) << control->GetLabel();
    EXPECT_EQ(page->gong->GetSelection(), wxNOT_FOUND);
    EXPECT_EQ(page->radioBoxRecordSource->GetSelection(), 0);
    EXPECT_EQ(page->buttonStartAndStop->GetLabel(), L"Старт");

    fs::create_directories(recordFolder());
    fs::create_directories(recordFolder() + "Вложенная");
    for (const char* name : {"Утреннее объявление", "Эвакуация: этаж 2", "Проверка связи"})
        std::ofstream(recordFile(name)) << "mp3";
    std::ofstream(recordFolder() + "Вложенная/Скрытая.mp3") << "mp3";
    std::ofstream(recordFolder() + "Заметки.txt") << "text";
    page->fillRecordList(page->recordDirectory());
    auto rows = rowTexts();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows,
              (std::vector<std::wstring>{L"Проверка связи", L"Утреннее объявление", L"Эвакуация: этаж 2"}));
    const auto records = page->loadRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]->getName(), page->listCtrlRecord->GetItemText(0).ToStdWstring());

    tick(page->checkBoxBroadcast, true);
    EXPECT_TRUE(page->gongEnable->IsEnabled());
    EXPECT_FALSE(page->gong->IsEnabled());
    fs::create_directories(folder + "gong");
    std::ofstream(folder + "gong/Перед объявлением.mp3") << "mp3";
    setPref("record.gongFileName", "Перед объявлением");
    tick(page->gongEnable, true);
    EXPECT_EQ(page->gong->GetStringSelection(), L"Перед объявлением");
    EXPECT_FALSE(wx_testing::writeShot(window, "page_microphone").empty());
}
