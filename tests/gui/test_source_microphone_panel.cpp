// ctest-labels: net
// The microphone page over the program's alarm channel and notification
// stream, a real device collection with one simulated loudspeaker that
// answers and one that never does, and a scheduler core. The capture device
// is a FIFO that the test feeds in real time (libvlc opens "file://..." where
// a microphone's name stands; a WAV file would be read to its end at once).
// The runtime folder, where a recording is made, lies on another file system
// (/dev/shm) than the data folder, so that saving moves across them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wx/sizer.h>

#include <algorithm>
#include <atomic>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <csignal>
#include <fstream>
#include <set>
#include <thread>

#include "audio/alarm_channel.h"
#include "audio/mp3streamf.h"
#include "base/pref.h"
#include "base/text.h"
#include "base/thread_dispatcher.h"
#include "device/models/device_collection.h"
#include "device/transfer_protocol.h"
#include "gui/channel_gui.h"
#include "gui/item_data_map.h"
#include "gui/scheduler_vault.h"
#include "gui/source_microphone_panel.h"
#include "os/data_directory.h"
#include "scheduler/core.h"
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
using frm::AlarmChannel;

namespace {

const std::wstring kCaption = L"Сообщение";
const double kVoice = 600, kMessage = 1000, kGong = 880;
// A broadcast is heard on the notification channel of priority 2 (6) above
// the loudspeaker's channel 0, on a group of this program's own.
const std::string kGroup = "224.0.224.71";
const std::uint16_t kNoticePort = 14771;

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

/// An event as the control sends it, the control's new state set first.
void fire(wxWindow* control, wxEventType type, int value = 0) {
    if (auto* box = dynamic_cast<wxCheckBox*>(control)) box->SetValue(value != 0);
    if (auto* radio = dynamic_cast<wxRadioBox*>(control)) radio->SetSelection(value);
    wxCommandEvent event(type, control->GetId());
    event.SetInt(value);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}
void click(wxButton* button) { fire(button, wxEVT_BUTTON); }
void tick(wxCheckBox* box, bool on) { fire(box, wxEVT_CHECKBOX, on); }
void chooseSource(wxRadioBox* box, int selection) { fire(box, wxEVT_RADIOBOX, selection); }
void keyUp(wxListCtrl* list, int key, bool control = false) {
    wxKeyEvent event(wxEVT_KEY_UP);
    event.m_keyCode = key;
    event.SetControlDown(control);
    event.SetEventObject(list);
    list->GetEventHandler()->ProcessEvent(event);
}

/// The test's microphone: a FIFO fed with an endless WAV stream of one tone
/// in real time while a reader holds it open, again for each next reader.
class LiveVoice {
public:
    explicit LiveVoice(std::string path) : m_path(std::move(path)) {
        std::signal(SIGPIPE, SIG_IGN);  // a reader that goes shows as EPIPE
        ::mkfifo(m_path.c_str(), 0600);
        m_thread = std::thread([this] { feed(); });
    }
    ~LiveVoice() {
        m_stop = true;
        m_thread.join();
    }
    const std::string m_path;

private:
    void feed() {
        std::string header = testing_support::wavFile({}, 44100, 1);
        header.replace(4, 4, "\xFF\xFF\xFF\x7F").replace(40, 4, "\xFF\xFF\xFF\x7F");
        const std::string chunk =
            testing_support::pcmBytes(stream_probe::stepped_tone({kVoice}, 50, 44100, 1));
        while (!m_stop) {
            const int fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO until a reader opens
            bool open = fd >= 0 && ::write(fd, header.data(), header.size()) > 0;
            for (auto next = std::chrono::steady_clock::now(); open && !m_stop; next += 50ms) {
                open =
                    ::write(fd, chunk.data(), chunk.size()) >= 0 || errno == EAGAIN;  // a full pipe drops it
                // The reader's going is seen at once, so that the next reader
                // starts with a header of its own, not in the middle.
                pollfd gone{fd, 0, 0};
                while (open && std::chrono::steady_clock::now() < next) {
                    open = ::poll(&gone, 1, 0) == 0;
                    std::this_thread::sleep_for(2ms);
                }
            }
            if (fd >= 0) ::close(fd);
            std::this_thread::sleep_for(2ms);
        }
    }
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::string runtimeFolder() {
    char pattern[] = "/dev/shm/sonvar-runtime-XXXXXX";
    char fallback[] = "/tmp/sonvar-runtime-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? made : ::mkdtemp(fallback);
}

class MicrophonePage : public CountingLogFixture {
protected:
    void SetUp() override {
        startLog(base::Log::TRACE3);
        pref_init(base::fromUtf8(folder + "sonvar.cfg"));
        pref::setString("record.deviceName", base::fromUtf8("file://" + voice.m_path));
        pref::setString("multicast.address", base::fromUtf8(kGroup));
        base::ThreadDispatcher::create();
        window = new wx_testing::TaskWindow;
        window->SetClientSize(941, 589);
        GuiThreadInvoker::createInstance(window);

        transport = boost::make_shared<device::TransferProtocol>(0, "");
        collection = device::DeviceCollection::create(transport, 15993);
        collection->setNewDeviceHandler([this](auto&, auto&, auto&) { return ++ids; });
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
        root->addElement(speaker);
        root->addElement(quiet);
        rows[0] = {speaker, root};
        rows[1] = {quiet, root};
        deviceList = new wxListCtrl(window, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxLC_REPORT);
        deviceList->Hide();
        deviceList->InsertColumn(0, L"");
        for (long row = 0; row < 2; ++row) {
            deviceList->InsertItem(row, L"");
            deviceList->SetItemPtrData(row, reinterpret_cast<wxUIntPtr>(&rows[row]));
        }
        registry = std::make_unique<frm::ItemDataMap>(deviceList, root);

        stream.set_stream_fmt(128);
        stream.set_address_interface("127.0.0.1", 9);
        frm::AlarmChannelOptions options;
        options.watcherPeriod = 1h;
        options.discoveryPort = [](device::OrvelInfo&) {
            return static_cast<std::uint16_t>(kNoticePort - 6);
        };
        AlarmChannel::createInstance(registry.get(), &channelGui, stream, options);

        page = new Page(
            window, registry.get(), [this](const std::wstring& text) { states.push_back(text); }, core);
        const auto uses = [](const std::wstring* text) {
            return [text](const std::wstring& path) {
                return !text->empty() && path.find(*text) != std::wstring::npos;
            };
        };
        page->setMessageUseTests(uses(&serviceText), uses(&alarmText));
        window->SetSizer(new wxBoxSizer(wxVERTICAL));
        window->GetSizer()->Add(page, 1, wxEXPAND);
        window->Show();
        window->Layout();
    }
    void TearDown() override {
        AlarmChannel::destroyInstance();
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
    /// Exactly these device rows selected.
    void select(const std::set<frm::ItemDataMap::DevicePtr>& devices) {
        for (long row = 0; row < 2; ++row)
            deviceList->SetItemState(row, devices.count(rows[row].device) ? wxLIST_STATE_SELECTED : 0,
                                     wxLIST_STATE_SELECTED);
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
    /// Starts a recording without loudspeakers and runs it until the file
    /// holds about `seconds` of MP3 at 128 kbit/s (libvlc starts late on a
    /// loaded machine).
    void record(double seconds = 1.5) {
        tick(page->checkBoxBroadcast, false);
        tick(page->checkBoxRecord, true);
        click(page->buttonStartAndStop);
        ASSERT_TRUE(running());
        ASSERT_TRUE(wx_testing::runEventLoopUntil(
            [&] {
                boost::system::error_code error;
                return fs::file_size(made, error) >= seconds * 16000 && !error;
            },
            20s));
    }
    /// The channel's notice is on air. Stopping one earlier can hang the
    /// channel: its stop holds the lock that a starting alarm thread waits for.
    bool onAir() {
        return wx_testing::runEventLoopUntil([this] { return stream.is_stream(); }, 20s);
    }
    /// Someone else's notice on the channel: a recording at `priority`.
    bool foreignNotice(int priority, const std::wstring& description) {
        return AlarmChannel::instance()->launch(AlarmChannel::kMicrophone, false, frm::DeviceSet(), L"", L"",
                                                base::fromUtf8(runtime + "/foreign.mp3"), priority, 100,
                                                description, AlarmChannel::Callback(), false);
    }
    std::set<std::wstring> rowTexts() const {
        std::set<std::wstring> texts;
        for (long row = 0; row < page->listCtrlRecord->GetItemCount(); ++row)
            texts.insert(page->listCtrlRecord->GetItemText(row).ToStdWstring());
        return texts;
    }
    std::string recordFile(const std::string& name) const {
        const std::string path = base::toUtf8(page->recordDirectory()) + name + ".mp3";
        fs::create_directories(fs::path(path).parent_path());
        return path;
    }

    testing_support::TempDir home{"microphone-page"};
    testing_support::ScopedEnv dataHome{"XDG_DATA_HOME", home.path().c_str()};
    const std::string runtime = runtimeFolder();
    testing_support::ScopedEnv runtimeHome{"XDG_RUNTIME_DIR", runtime.c_str()};
    const std::string folder = base::toUtf8(os::getUserDataDirectory()) + "/";
    const std::string made = runtime + "/sonvar/sonvar_record.mp3";
    LiveVoice voice{home.path() + "/voice.wav"};
    wx_testing::TaskWindow* window = nullptr;
    boost::shared_ptr<device::TransferProtocol> transport;
    boost::shared_ptr<device::DeviceCollection> collection;
    device::sim::Simulator simulator{1};
    device::sim::SimulatedDevice* loudspeaker = nullptr;
    std::atomic<std::uint32_t> ids{0};
    frm::ItemDataMap::DevicePtr speaker, quiet;
    const frm::ZoneElement::Ptr root = frm::ZoneElement::createDetached(L"Все зоны");
    frm::DeviceRowData rows[2];
    wxListCtrl* deviceList = nullptr;
    std::unique_ptr<frm::ItemDataMap> registry;
    mp3streamf stream;
    frm::InvokerChannelGui channelGui;
    scheduler::Core core;
    Page* page = nullptr;
    std::vector<std::wstring> states;
    std::wstring serviceText, alarmText;
};

}  // namespace

TEST_F(MicrophonePage, ARecordingWithoutLoudspeakersIsSavedUnderASafeNameOnly) {
    ui_testing::ScriptedUi answers;
    record();
    click(page->buttonStartAndStop);
    EXPECT_TRUE(idle());
    // Offered once the stop has closed the recording.
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return page->buttonRecordSave->IsEnabled(); }));
    EXPECT_FALSE(AlarmChannel::instance()->isRunning());
    EXPECT_EQ(fs::status(runtime + "/sonvar").permissions(), fs::owner_all);

    for (const std::wstring name : {L"", L"../Вне", L".."}) {
        page->recordName->ChangeValue(name);
        answers.expect(kCaption, wxID_OK);
        click(page->buttonRecordSave);
        EXPECT_EQ(answers.shown().back().text,
                  name.empty() ? L"Введите название записи" : L"Недопустимое название записи");
    }
    EXPECT_FALSE(fs::exists(folder + "Вне.mp3"));
    page->recordName->ChangeValue(L"Объявление 1");
    click(page->buttonRecordSave);
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(rowTexts(), std::set<std::wstring>{L"Объявление 1"});
    EXPECT_FALSE(page->buttonRecordSave->IsEnabled());
    EXPECT_TRUE(page->recordName->IsEmpty());
    struct stat from {
    }, to{};
    if (::stat(runtime.c_str(), &from) == 0 && ::stat(folder.c_str(), &to) == 0 && from.st_dev == to.st_dev)
        std::cout << "note: the runtime folder and the data folder share a file system\n";
    const auto heard = stream_probe::decode_file(recordFile("Объявление 1"), home.path() + "/record.raw");
    EXPECT_GE(stream_probe::tone_counts(stream_probe::tone_track(heard, {kVoice}), 1)[0], 10);

    record(0.3);  // the same name again: refused, the old recording stays
    click(page->buttonStartAndStop);
    page->recordName->ChangeValue(L"Объявление 1");
    answers.expect(L"Внимание!", wxID_OK);
    click(page->buttonRecordSave);
    EXPECT_EQ(answers.shown().back().text.find(L"Файл с таким именем уже сущетвует."), 0u);
    EXPECT_TRUE(fs::exists(made));
}

TEST_F(MicrophonePage, ARecordingWithoutSoundIsNeitherSavedNorListed) {
    ui_testing::ScriptedUi answers;
    record(0.3);
    click(page->buttonStartAndStop);
    ASSERT_TRUE(idle());
    ASSERT_TRUE(wx_testing::runEventLoopUntil([this] { return page->buttonRecordSave->IsEnabled(); }));
    // What a capture that never delivered leaves behind.
    std::ofstream(made, std::ios::trunc | std::ios::binary).flush();
    const std::set<std::wstring> before = rowTexts();

    page->recordName->ChangeValue(L"Запись1");
    answers.expect(kCaption, wxID_OK);
    click(page->buttonRecordSave);
    ASSERT_EQ(answers.shown().size(), 1u);
    EXPECT_EQ(answers.shown().back().text.find(L"Запись не содержит звука и не сохранена."), 0u);
    EXPECT_FALSE(fs::exists(recordFile("Запись1")));
    EXPECT_EQ(rowTexts(), before);
    EXPECT_FALSE(page->buttonRecordSave->IsEnabled()) << "nothing is left to save";
}

TEST_F(MicrophonePage, TheChecksBeforeAStartRefuseInTheTablesOrder) {
    EXPECT_EQ(page->recordName->GetHint(), L"Название");  // a hint, never a name to save
    for (wxWindow* off : std::initializer_list<wxWindow*>{page->recordName, page->buttonRecordSave,
                                                          page->deleteRecord, page->gongEnable, page->gong})
        EXPECT_FALSE(off->IsEnabled()) << off->GetLabel();
    ui_testing::ScriptedUi answers;
    const auto refused = [&](const std::wstring& text, const std::string& line) {
        answers.expect(kCaption, wxID_OK);
        click(page->buttonStartAndStop);
        EXPECT_EQ(answers.shown().back().text, text);
        EXPECT_TRUE(logged(line)) << line;
    };
    refused(L"Выберите один из способов передачи", "type of translation is not selected");
    std::ofstream(recordFile("Первое")) << "mp3";
    page->fillRecordList(page->recordDirectory());
    chooseSource(page->radioBoxRecordSource, 1);
    refused(L"Выберите сообщение для проигрывания", "message for playing isn't selected");
    page->listCtrlRecord->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    page->checkBoxRecord->SetValue(true);  // only by hand: the source box clears it
    refused(L"При проигрывании сообщения из списка, запись невозможна", "a record is forbidden");
    page->checkBoxRecord->SetValue(false);
    chooseSource(page->radioBoxRecordSource, 0);
    tick(page->checkBoxBroadcast, true);
    refused(L"Не выбрано ни одного устройства", "devices were not selected");
    select({quiet});
    refused(L"Не выбрано ни одного устройства в сети", "all devices are offline");
    select({quiet, speaker});
    tick(page->gongEnable, true);  // no gong folder: nothing to choose
    refused(L"Выберите гонг", "here needs a gong");
    // A choice beyond the page's gong files: the log's error, no box of its own.
    page->gong->Append(L"Чужой");
    page->gong->SetSelection(0);
    click(page->buttonStartAndStop);
    EXPECT_TRUE(logged("Internal error. Gong index outside the range. (0 of 0)"));
    EXPECT_EQ(page->buttonStartAndStop->GetLabel(), L"Старт");
    EXPECT_FALSE(AlarmChannel::instance()->isRunning());
    EXPECT_TRUE(states.empty());
}

TEST_F(MicrophonePage, TheListSourceClearsTheTransferModesAndTheMicrophoneRestoresThem) {
    ui_testing::ScriptedUi answers;
    record(0.3);
    click(page->buttonStartAndStop);
    tick(page->checkBoxBroadcast, true);
    tick(page->gongEnable, true);
    chooseSource(page->radioBoxRecordSource, 1);
    EXPECT_FALSE(page->checkBoxRecord->GetValue());
    EXPECT_TRUE(page->checkBoxBroadcast->GetValue());
    for (wxWindow* off : std::initializer_list<wxWindow*>{page->checkBoxRecord, page->checkBoxBroadcast,
                                                          page->recordName, page->buttonRecordSave})
        EXPECT_FALSE(off->IsEnabled()) << off->GetLabel();
    EXPECT_TRUE(page->gong->IsEnabled());
    chooseSource(page->radioBoxRecordSource, 0);
    EXPECT_TRUE(page->checkBoxRecord->GetValue() && page->checkBoxBroadcast->GetValue());
    EXPECT_TRUE(page->recordName->IsEnabled());
    EXPECT_FALSE(page->buttonRecordSave->IsEnabled()) << "the recording is not offered after a change";

    tick(page->checkBoxBroadcast, false);  // "Запись" alone: the list ticks "Трансляция" for its time only
    chooseSource(page->radioBoxRecordSource, 1);
    chooseSource(page->radioBoxRecordSource, 0);
    EXPECT_FALSE(page->checkBoxBroadcast->GetValue());
    EXPECT_FALSE(page->gongEnable->IsEnabled() || page->gong->IsEnabled());
}

TEST_F(MicrophonePage, ABusyChannelIsInterruptedOnlyAtPriorityTwoAndOnlyAfterTheQuestion) {
    ui_testing::ScriptedUi answers;
    AlarmChannel* channel = AlarmChannel::instance();
    tick(page->checkBoxRecord, true);
    ASSERT_TRUE(foreignNotice(2, L"Чужая запись") && onAir());
    answers.expect(kCaption, wxID_NO);
    click(page->buttonStartAndStop);
    EXPECT_EQ(answers.shown().back().text, L"Канал занят. Описание: 'Чужая запись'\nПрервать?");
    EXPECT_EQ(channel->getDescription(), L"Чужая запись");
    EXPECT_TRUE(states.empty());
    answers.expect(kCaption, wxID_YES);
    click(page->buttonStartAndStop);
    EXPECT_TRUE(running());
    EXPECT_TRUE(wx_testing::runEventLoopUntil(
        [channel] { return channel->getDescription() == L"Запись с микрофона"; }));
    ASSERT_TRUE(onAir());
    click(page->buttonStartAndStop);
    ASSERT_TRUE(wx_testing::runEventLoopUntil([channel] { return !channel->isRunning(); }));

    ASSERT_TRUE(foreignNotice(3, L"Тревога") && onAir());
    answers.expect(kCaption, wxID_OK);
    click(page->buttonStartAndStop);
    EXPECT_EQ(answers.shown().back().text, L"Канал занят.");
    EXPECT_EQ(answers.shown().back().buttons.size(), 1u);
    EXPECT_TRUE(idle());
    EXPECT_EQ(channel->getDescription(), L"Тревога");
    EXPECT_TRUE(channel->isRunning());
    channel->stop(AlarmChannel::Callback());
}

TEST_F(MicrophonePage, ARecordingInUseByAMessageTreeOrATaskStaysAndTheOthersAreDeleted) {
    for (const char* name : {"Альфа", "Бета", "Гамма", "Дельта", "Эпсилон", "Вложенная/Скрытая"})
        std::ofstream(recordFile(name)) << "mp3";
    std::ofstream(recordFile("Заметки") + ".txt") << "text";
    page->fillRecordList(page->recordDirectory());
    EXPECT_EQ(rowTexts(), (std::set<std::wstring>{L"Альфа", L"Бета", L"Гамма", L"Дельта", L"Эпсилон"}));
    const auto records = page->loadRecords();
    ASSERT_EQ(records.size(), 5u);
    // A scheduled task plays the scheduler's copy of one of them.
    auto task = std::make_shared<scheduler::task::Once>(1, L"2024-03-05", L"10:00", scheduler::task::Event());
    scheduler::task::DataVault vault;
    vault.playback = (*std::find_if(records.begin(), records.end(), [](const auto& record) {
                         return record->getName() == L"Эпсилон";
                     }))->clone();
    scheduler::task::setVault(*task, vault);
    ASSERT_TRUE(core.putTask(task));
    fs::remove(recordFile("Дельта"));  // a file that cannot be removed
    fs::create_directories(recordFile("Дельта") + "/inside");
    serviceText = L"/Альфа.mp3";
    alarmText = L"Бета";
    keyUp(page->listCtrlRecord, 'A', true);
    EXPECT_TRUE(page->deleteRecord->IsEnabled());
    click(page->deleteRecord);

    EXPECT_EQ(rowTexts(), (std::set<std::wstring>{L"Альфа", L"Бета", L"Дельта", L"Эпсилон"}));
    EXPECT_FALSE(fs::exists(recordFile("Гамма")));
    const auto notices = observedAt(L"NOTICE");
    EXPECT_EQ(std::set<std::wstring>(notices.begin(), notices.end()),
              (std::set<std::wstring>{
                  L"Невозможно удалить сообщение 'Альфа', т.к. используется в служебных оповещениях",
                  L"Невозможно удалить сообщение 'Бета', т.к. используется в тревожных оповещениях",
                  L"Невозможно удалить сообщение 'Эпсилон', т.к. входит в задание"}));
    EXPECT_EQ(observedAt(L"WARN"), std::vector<std::wstring>{L"Не удалось удалить запись '" +
                                                             page->recordDirectory() + L"Дельта.mp3'"});
    EXPECT_EQ(page->listCtrlRecord->GetSelectedItemCount(), 0);
    EXPECT_FALSE(page->deleteRecord->IsEnabled());

    serviceText.clear();  // no longer in a tree: the Delete key removes it
    page->listCtrlRecord->SetItemState(page->listCtrlRecord->FindItem(-1, L"Альфа"), wxLIST_STATE_SELECTED,
                                       wxLIST_STATE_SELECTED);
    keyUp(page->listCtrlRecord, WXK_DELETE);
    EXPECT_FALSE(fs::exists(recordFile("Альфа")));
    EXPECT_EQ(rowTexts(), (std::set<std::wstring>{L"Бета", L"Дельта", L"Эпсилон"}));
}

TEST_F(MicrophonePage, NoticesFromAnotherThreadBringThePageBackToIdleOnTheGuiThread) {
    ui_testing::ScriptedUi answers;
    AlarmChannel* channel = AlarmChannel::instance();
    record(0.5);  // 5: the alarm page's "Стоп" ends the recording
    std::thread([channel] { channel->stop(AlarmChannel::Callback()); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    EXPECT_TRUE(page->buttonRecordSave->IsEnabled()) << "what was recorded can still be saved";

    record(0.5);  // 4: an alarm started elsewhere replaces it
    std::thread([this] { EXPECT_TRUE(foreignNotice(3, L"Тревога")); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    ASSERT_TRUE(onAir());
    // A late end notice, the page idle, leaves the alarm alone.
    std::thread([this] { page->handlerNoticeCallack(AlarmChannel::kMessageEnded); }).join();
    wx_testing::runEventLoopFor(200ms);
    EXPECT_EQ(channel->getDescription(), L"Тревога");
    EXPECT_TRUE(channel->isRunning());
    channel->stop(AlarmChannel::Callback());

    record(0.5);  // 3: the end of the page's own broadcast stops the channel
    std::thread([this] { page->handlerNoticeCallack(AlarmChannel::kMessageEnded); }).join();
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }));
    EXPECT_TRUE(wx_testing::runEventLoopUntil([channel] { return !channel->isRunning(); }));
}

TEST_F(MicrophonePage, ARecordedMessageIsBroadcastAfterTheGongAndThePageReturnsAtItsEnd) {
    fs::create_directories(folder + "gong");
    ASSERT_TRUE(stream_probe::write_mp3(folder + "gong/Гонг.mp3",
                                        stream_probe::stepped_tone({kGong}, 700, 44100, 1), 44100, 1));
    ASSERT_TRUE(stream_probe::write_mp3(recordFile("Объявление"),
                                        stream_probe::stepped_tone({kMessage}, 1500, 44100, 1), 44100, 1));
    page->fillRecordList(page->recordDirectory());
    tick(page->checkBoxBroadcast, true);
    tick(page->gongEnable, true);
    page->gong->SetSelection(0);
    chooseSource(page->radioBoxRecordSource, 1);
    page->listCtrlRecord->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    select({speaker});
    stream_probe::LiveReceiver receiver(kGroup, kNoticePort, home.path() + "/heard.raw");
    ASSERT_TRUE(receiver.joined());

    click(page->buttonStartAndStop);
    ASSERT_TRUE(running());
    EXPECT_FALSE(page->deleteRecord->IsEnabled()) << "not while it is on air";
    EXPECT_TRUE(wx_testing::runEventLoopUntil(
        [] { return AlarmChannel::instance()->getDescription() == L"Вещание сообщения (микрофон)"; }));
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] { return idle(); }, 30s));  // 3 at the end
    // The stop that the end handed over gives the loudspeaker back.
    EXPECT_TRUE(wx_testing::runEventLoopUntil([] { return !AlarmChannel::instance()->isRunning(); }));
    EXPECT_TRUE(wx_testing::runEventLoopUntil([this] {
        const auto received = loudspeaker->received();
        return !received.empty() && received.back().text.rfind("set ch 0", 0) == 0;
    }));
    EXPECT_TRUE(page->deleteRecord->IsEnabled());
    EXPECT_EQ(pref::getInt("volume.microphone2", 0), 90);
    EXPECT_EQ(pref::getString("record.gongFileName"), L"Гонг");
    std::vector<std::string> channels;
    for (const auto& datagram : loudspeaker->received())
        if (datagram.text.rfind("set ch", 0) == 0) channels.push_back(datagram.text.substr(0, 8));
    ASSERT_FALSE(channels.empty());
    EXPECT_EQ(channels.front(), "set ch 6");
    EXPECT_EQ(channels.back(), "set ch 0");
    const auto track = stream_probe::tone_track(receiver.samples(), {kGong, kMessage});
    EXPECT_GE(stream_probe::tone_counts(track, 2)[0], 6) << "the gong";
    EXPECT_GE(stream_probe::tone_counts(track, 2)[1], 15) << "the message";
    EXPECT_TRUE(stream_probe::tones_in_order(track));
    EXPECT_FALSE(wx_testing::writeShot(window, "page_microphone").empty());
}
