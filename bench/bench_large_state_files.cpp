// 5 MB state files read at start-up, beside boost property_tree reading the
// same bytes alone: zone_collection.xml (about 28,000 zones, each keeping an
// address whose device is not known yet) into a zone tree without windows,
// and list_of_playlist_music.xml (about 11,500 playlists of 5 tracks of one
// existing file) into the music list. Load time should grow with the file,
// not with its square: the ratio stays small. The log is at INFO, as in the
// field. Prints one BENCH line per file; run it as
// `scripts/netns-run build/bench/bench_large_state_files`.
#include <boost/filesystem.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "audio/list_of_playlist.h"
#include "bench/property_tree_peer.h"
#include "base/log.h"
#include "base/pref.h"
#include "base/text.h"
#include "device/models/device_collection.h"
#include "gui/zone_element.h"

namespace {

using Steady = std::chrono::steady_clock;
using boost::property_tree::wptree;
constexpr std::size_t kBytes = 5u << 20;

double msSince(Steady::time_point start) {
    return std::chrono::duration<double, std::milli>(Steady::now() - start).count();
}

std::size_t writeZones(const std::string& file) {
    std::ofstream out(file, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<zone_collection>";
    std::size_t zones = 0;
    for (std::size_t written = 0; written < kBytes; ++zones) {
        char address[18];
        std::snprintf(address, sizeof address, "02:11:22:%02X:%02X:%02X", unsigned(zones >> 16) & 255,
                      unsigned(zones >> 8) & 255, unsigned(zones) & 255);
        std::ostringstream zone;
        zone << "<zone><name>Зона номер " << zones << "</name><enableVolume>false</enableVolume><volume>50</volume>"
             << "<devices><hardware_address>" << address << "</hardware_address></devices><zones/></zone>";
        written += zone.str().size();
        out << zone.str();
    }
    out << "</zone_collection>\n";
    return zones;
}

std::size_t writePlaylists(const std::string& file, const std::string& track) {
    std::ofstream out(file, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<list>";
    std::size_t playlists = 0;
    for (std::size_t written = 0; written < kBytes; ++playlists) {
        std::ostringstream playlist;
        playlist << "<playlist><name>Плейлист " << playlists << "</name><items>";
        for (int n = 0; n < 5; ++n)
            playlist << "<track><title>Трек " << n << "</title><path>" << track << "</path></track>";
        playlist << "</items></playlist>";
        written += playlist.str().size();
        out << playlist.str();
    }
    out << "</list>\n";
    return playlists;
}

double peerRead(const std::string& file) {
    wptree tree;
    return bench::readWithPropertyTree(file, tree);
}

void print(const char* name, double ours, double peer) {
    std::printf("BENCH %s ours=%.0fms property_tree_read=%.0fms ratio=%.2f\n", name, ours, peer,
                peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main() {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const auto folder =
        boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("sonvar-bench-%%%%%%%%");
    boost::filesystem::create_directories(folder);
    const std::wstring wideFolder = base::fromUtf8(folder.string());
    base::Log::create(wideFolder, base::Log::INFO, false);
    pref_init(wideFolder + L"/sonvar.cfg");
    int status = 0;
    {
        const std::string zonesFile = folder.string() + "/zone_collection.xml";
        const std::size_t zones = writeZones(zonesFile);
        device::CollectionTiming timing;
        timing.startDelay = std::chrono::hours(1);
        const auto devices = device::DeviceCollection::create(nullptr, 11990, timing);
        const auto root = frm::ZoneElement::createDetached(L"Все зоны");
        auto start = Steady::now();
        root->load(base::fromUtf8(zonesFile), *devices, nullptr, nullptr, frm::ZoneElement::Ptr());
        const double ours = msSince(start);
        std::printf("zones: %zu written, %zu loaded\n", zones, root->getZones().size());
        if (root->getZones().size() != zones) status = 1;
        print("load_zone_collection_5mb", ours, peerRead(zonesFile));
        devices->stop();

        const std::string track = folder.string() + "/track.mp3";
        std::ofstream(track, std::ios::binary) << std::string(16, '\0');
        const std::string listFile = folder.string() + "/list_of_playlist_music.xml";
        const std::size_t playlists = writePlaylists(listFile, track);
        ListOfPlaylist list;
        start = Steady::now();
        list.load(base::fromUtf8(listFile));
        const double oursList = msSince(start);
        std::printf("playlists: %zu written, %zu loaded\n", playlists, list.getAll().size());
        if (list.getAll().size() != playlists) status = 1;
        print("load_list_of_playlist_5mb", oursList, peerRead(listFile));
    }
    pref_free();
    boost::system::error_code ignored;
    boost::filesystem::remove_all(folder, ignored);
    return status;
}
