// scheduler.xml with 1,000 tasks (playlists, and service messages with
// gongs, 20 loudspeakers each, half of the daily ones with a stop task)
// read into a running scheduler core and written back, beside boost
// property_tree reading and writing the same file alone. Loading includes
// finding each task's source, resolving its message and gong files and
// looking up its loudspeakers; saving resolves the paths again and writes
// through the state files' checked replacement. The log is at INFO, as in
// the field. Goal: load under 500 ms. Prints one BENCH line per comparison.
#include <algorithm>
#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/playback.h"
#include "bench/property_tree_peer.h"
#include "audio/playlist.h"
#include "base/files.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/storage.h"
#include "base/text.h"
#include "device/models/device_collection.h"
#include "device/models/orvel_info.h"
#include "gui/message_kinds.h"
#include "gui/scheduler_store.h"
#include "scheduler/core.h"
#include "tests/scheduler/manual_clock.h"

namespace {

using Steady = std::chrono::steady_clock;
using boost::property_tree::wptree;

constexpr int kTasks = 1000;
constexpr int kDevicesPerTask = 20;
constexpr int kLoudspeakers = 200;
constexpr int kPlaylists = 50;
constexpr int kMessages = 50;
constexpr int kGongs = 5;
constexpr int kRounds = 7;
constexpr double kGoalMs = 500.0;

double msSince(Steady::time_point from) {
    return std::chrono::duration<double, std::milli>(Steady::now() - from).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::wstring numbered(const wchar_t* prefix, int n) { return prefix + std::to_wstring(n); }

std::wstring address(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "02:56:53:00:%02X:%02X", (n >> 8) & 0xFF, n & 0xFF);
    return base::fromUtf8(text);
}

struct Site {
    std::wstring folder;
    boost::shared_ptr<device::DeviceCollection> devices;
    std::vector<boost::shared_ptr<frm::PlaybackCollection>> sources;
};

void touch(const std::wstring& path) { std::ofstream(base::toUtf8(path)) << "ID3"; }

Site makeSite(const std::wstring& folder) {
    Site site;
    site.folder = folder;
    for (const wchar_t* sub : {L"/service", L"/alarm", L"/gong"})
        boost::filesystem::create_directories(base::toUtf8(folder + sub));
    pref::setString("place.pathDirServiceMessage", folder + L"/service");
    pref::setString("place.pathDirAlarmMessage", folder + L"/alarm");
    pref::setString("place.pathDirGong", folder + L"/gong");
    for (int i = 0; i < kMessages; ++i) touch(folder + L"/service/" + numbered(L"сообщение ", i) + L".mp3");
    for (int i = 0; i < kGongs; ++i) touch(folder + L"/gong/" + numbered(L"гонг ", i) + L".mp3");

    device::CollectionTiming timing;
    timing.startDelay = std::chrono::hours(1);
    site.devices = device::DeviceCollection::create(nullptr, 11990, timing);
    for (int i = 0; i < kLoudspeakers; ++i)
        site.devices->addDevice(i + 1, L"Orvel-610", net::HardwareAddress(base::toUtf8(address(i))),
                                net::Ip4Address("10.0.0.5"), numbered(L"Зал ", i));

    auto playlists = boost::make_shared<frm::PlaybackCollection>(L"playlist", L"Плейлисты");
    std::vector<boost::shared_ptr<Playlist>> lists;
    for (int i = 0; i < kPlaylists; ++i)
        lists.push_back(boost::make_shared<Playlist>(numbered(L"Плейлист ", i), false));
    frm::addPlaylistPlaybacks(playlists, lists);
    auto messages = boost::make_shared<frm::PlaybackCollection>(L"serviceMessage", L"Служебные сообщения");
    for (int i = 0; i < kMessages; ++i) {
        auto track = boost::make_shared<frm::PlaybackTrack>(L"Объявления: " + numbered(L"сообщение ", i),
                                                            frm::kServiceMessage, false);
        track->setMessage(numbered(L"сообщение ", i),
                          folder + L"/service/" + numbered(L"сообщение ", i) + L".mp3");
        messages->add(track);
    }
    site.sources = {playlists, boost::make_shared<frm::PlaybackCollection>(L"radio", L"Радио"),
                    boost::make_shared<frm::PlaybackCollection>(L"device", L"Диски"), messages,
                    boost::make_shared<frm::PlaybackCollection>(L"microphone", L"Микрофон")};
    return site;
}

/// The file the page would have written for 1,000 tasks.
wptree makeDocument(const std::wstring& folder) {
    wptree document;
    wptree& root = document.add_child(L"scheduler_v2", wptree());
    for (int i = 0; i < kTasks; ++i) {
        wptree& task = root.add_child(L"task", wptree());
        const bool daily = i % 4 != 0;
        wchar_t time[8];
        std::swprintf(time, 8, L"%02d:%02d", (i / 60) % 24, i % 60);
        task.add(L"type", daily ? L"daily" : L"once");
        task.add(L"startDate", L"2024-03-05");
        task.add(L"finalDate", daily ? L"" : L"2024-03-05");
        task.add(L"startTime", time);
        task.add(L"stopTime", daily && i % 2 == 1 ? L"23:59" : L"");
        task.add(L"enable", i % 7 == 0 ? L"false" : L"true");
        wptree& playback = task.add_child(L"playback", wptree());
        if (i % 2 == 0) {
            playback.add(L"placeName", L"playlist");
            playback.add(L"subPlaceName", numbered(L"Плейлист ", i % kPlaylists));
        } else {
            const int m = i % kMessages;
            const std::wstring gong = numbered(L"гонг ", i % kGongs) + L".mp3";
            playback.add(L"placeName", L"serviceMessage");
            playback.add(L"subPlaceName", L"Объявления: " + numbered(L"сообщение ", m));
            playback.add(L"messageName", numbered(L"сообщение ", m));
            playback.add(L"messagePath", folder + L"/service/" + numbered(L"сообщение ", m) + L".mp3");
            playback.add(L"gongName", gong);
            playback.add(L"gongPath", folder + L"/gong/" + gong);
        }
        wptree& devices = playback.add_child(L"devices", wptree());
        for (int d = 0; d < kDevicesPerTask; ++d)
            devices.add(L"devices", address((i * 7 + d * 11) % kLoudspeakers));
    }
    return document;
}

struct Planner {
    explicit Planner(const Site& site)
        : clock(std::make_shared<testing_support::ManualClock>(scheduler::systemNow())),
          core(clock),
          store(core, scheduler::task::Environment{clock, [](const std::wstring&, scheduler::task::Event) {}},
                site.devices, hooks()) {
        store.setSources(site.sources);
    }
    static frm::SchedulerStore::Hooks hooks() {
        frm::SchedulerStore::Hooks made;
        made.deviceIds = [](const boost::shared_ptr<frm::IPlayback>& playback) {
            std::vector<std::uint32_t> ids;
            for (const auto& device : playback->getDevices()) ids.push_back(device->getId());
            return ids;
        };
        return made;
    }
    std::shared_ptr<testing_support::ManualClock> clock;
    scheduler::Core core;
    frm::SchedulerStore store;
};

/// property_tree alone: the UTF-8 bytes to a wide tree, as the state files
/// are read.
double peerRead(const std::string& file, std::size_t& children) {
    wptree tree;
    const double millis = bench::readWithPropertyTree(file, tree);
    children = tree.get_child(L"scheduler_v2").size();
    return millis;
}

double peerWrite(const std::string& file, const wptree& tree) {
    const auto start = Steady::now();
    std::wostringstream xml;
    boost::property_tree::write_xml(
        xml, tree, boost::property_tree::xml_writer_make_settings<std::wstring>(L' ', 0, L"utf-8"));
    std::ofstream(file, std::ios::binary) << base::toUtf8(xml.str());
    return msSince(start);
}

void print(const char* name, double ours, const char* peerName, double peer) {
    std::printf("BENCH %s ours=%.1fms %s=%.1fms ratio=%.2f\n", name, ours, peerName, peer,
                peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    setenv("TZ", "UTC", 1);
    tzset();
    const auto folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("sonvar-bench-%%%%%%%%");
    boost::filesystem::create_directories(folder);
    const std::wstring wideFolder = base::fromUtf8(folder.string());
    base::Log::create(wideFolder, base::Log::INFO, false);
    pref_init(wideFolder + L"/sonvar.cfg");

    int status = 0;
    {
        const Site site = makeSite(wideFolder);
        const std::wstring path = wideFolder + L"/scheduler.xml";
        const std::string file = base::toUtf8(path);
        storage::save(path, makeDocument(wideFolder));
        const std::string written = file + ".peer";

        std::vector<double> oursLoad, oursSave, peerLoad, peerSave;
        std::size_t tasks = 0;
        std::size_t elements = 0;
        for (int round = 0; round < kRounds; ++round) {
            Planner planner(site);
            auto start = Steady::now();
            planner.store.load(path);
            oursLoad.push_back(msSince(start));
            tasks = planner.core.getTasks().size();

            start = Steady::now();
            planner.store.saveToFile(path);
            oursSave.push_back(msSince(start));

            peerLoad.push_back(peerRead(file, elements));
            wptree tree;
            storage::load(path, tree);
            peerSave.push_back(peerWrite(written, tree));
        }
        const double load = median(oursLoad);
        std::printf(
            "scheduler_xml: %zu tasks in the core from %zu elements (%d expected), file %ju bytes; "
            "load %.1f ms, goal %.0f ms: %s\n",
            tasks, elements, kTasks, static_cast<std::uintmax_t>(boost::filesystem::file_size(file)), load,
            kGoalMs, load < kGoalMs ? "met" : "MISSED");
        print("scheduler_xml_load", load, "ptree_read", median(peerLoad));
        print("scheduler_xml_save", median(oursSave), "ptree_write", median(peerSave));
        if (elements != static_cast<std::size_t>(kTasks) || tasks < static_cast<std::size_t>(kTasks))
            status = 1;
        site.devices->stop();
    }

    pref_free();
    base::Log::destroy();
    boost::filesystem::remove_all(folder);
    return status;
}
