// The registry's part of the main window's device refresh (bench_startup
// times the whole refresh): when one device reports a change of state, the
// item registry counts where the device is filed below the root
// (countDeviceItems of the root's id). 1,000 loudspeakers in 50 zones (ten
// zones under the root, four sub-zones in each), beside a plain depth-first
// walk of the same tree that counts the device. Median of many runs, for the
// device filed last. No window is needed.
//
//   scripts/netns-run build/bench/bench_item_registry
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "device/models/device_collection.h"
#include "gui/item_data_map.h"

namespace {

using Clock = std::chrono::steady_clock;
using frm::ZoneElement;

constexpr int kDevices = 1000;
constexpr int kTopZones = 10;
constexpr int kSubZones = 4;
constexpr int kRuns = 301;

unsigned bareWalk(const ZoneElement& zone, const device::DeviceBase* device) {
    unsigned count = 0;
    for (const auto& filed : zone.getDevices()) count += filed.get() == device ? 1 : 0;
    for (const auto& child : zone.getZones()) count += bareWalk(*child, device);
    return count;
}

template <class F>
double medianMicroseconds(F&& run) {
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i) {
        const auto start = Clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + kRuns / 2, times.end());
    return times[kRuns / 2];
}

}  // namespace

int main() {
    device::CollectionTiming timing;
    timing.startDelay = std::chrono::hours(1);
    const auto collection = device::DeviceCollection::create(nullptr, 11990, timing);

    const ZoneElement::Ptr root = ZoneElement::createDetached(L"Все зоны");
    std::vector<ZoneElement::Ptr> zones;
    for (int top = 0; top < kTopZones; ++top) {
        const auto zone = ZoneElement::createDetached(L"Корпус " + std::to_wstring(top));
        root->addElement(zone);
        zones.push_back(zone);
        for (int sub = 0; sub < kSubZones; ++sub) {
            const auto child = ZoneElement::createDetached(L"Этаж " + std::to_wstring(sub));
            zone->addElement(child);
            zones.push_back(child);
        }
    }
    ZoneElement::DevicePtr last;
    for (int i = 0; i < kDevices; ++i) {
        last = collection->addDevice(static_cast<std::uint32_t>(i + 1), L"Orvel-610",
                                     net::HardwareAddress(0x025653u, static_cast<std::uint32_t>(i + 1)),
                                     net::Ip4Address("10.0.0.5"), L"Громкоговоритель");
        zones[static_cast<std::size_t>(i) % zones.size()]->addElement(last);
    }

    frm::ItemDataMap map(nullptr, root);
    unsigned ours = 0;
    unsigned bare = 0;
    const double oursUs = medianMicroseconds([&] { ours = map.countDeviceItems(last, 0); });
    const double bareUs = medianMicroseconds([&] { bare = bareWalk(*root, last.get()); });
    if (ours == 0 || bare == 0) {
        std::fprintf(stderr, "the device was not found (ours %u, bare %u)\n", ours, bare);
        return 1;
    }
    std::printf("BENCH item_registry_count_1000 ours=%.1fus bare_tree_walk=%.1fus ratio=%.2f\n", oursUs, bareUs,
                oursUs / bareUs);
    collection->stop();
    return 0;
}
