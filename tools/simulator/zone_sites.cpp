#include "tools/simulator/zone_sites.h"

#include <stdexcept>

#include "tools/simulator/equalizer_store.h"
#include "tools/simulator/line_control_store.h"
#include "tools/simulator/orvel_config_model.h"

namespace device::sim {

namespace {

/// Hands out the plan's addresses and hardware numbers in order.
class SiteBuilder {
public:
    SiteBuilder(Simulator& simulator, const SitePlan& plan) : m_simulator(simulator), m_plan(plan) {}

    SiteLoudspeaker loudspeaker(int index, bool orvel611 = false) {
        const unsigned number = m_plan.firstNumber + m_count;
        auto model = std::make_unique<OrvelConfigModel>(Simulator::hardwareAddress(number), index, orvel611);
        EqualizerStore::install(std::make_shared<EqualizerStore>(index), *model);
        SiteLoudspeaker speaker;
        if (index >= 9) {
            speaker.lines = std::make_shared<LineControlStore>();
            LineControlStore::install(speaker.lines, *model);
        }
        speaker.index = index;
        speaker.address = number & 0xFFFFFF;
        if (index >= 18) {
            speaker.zones = std::make_shared<SpeakerZoneStore>();
            SpeakerZoneStore::install(speaker.zones, *model);
        }
        speaker.device = &add(std::move(model));
        return speaker;
    }

    SiteConsole console(bool fire) {
        const unsigned number = m_plan.firstNumber + m_count;
        auto model = std::make_unique<TovikZoneModel>(Simulator::hardwareAddress(number));
        // The alarm-input bit of the priority makes a fire console.
        if (fire) model->values["priority"] = "133";
        SiteConsole console;
        console.address = number & 0xFFFFFF;
        console.device = &add(std::move(model));
        return console;
    }

private:
    SimulatedDevice& add(std::unique_ptr<Model> model) {
        const auto address = Simulator::loopbackAddress(m_plan.firstAddress, m_count++);
        if (!address) throw std::out_of_range("the site leaves 127.0.0.0/8");
        return m_simulator.add(*address, m_plan.port, std::move(model));
    }

    Simulator& m_simulator;
    const SitePlan m_plan;
    unsigned m_count = 0;
};

void setZone(const SiteConsole& console, int zone, int virtualZone, std::set<unsigned> addresses) {
    console.device->withModel<TovikZoneModel>([&](TovikZoneModel& model) {
        model.zones[zone] = TovikZoneModel::Zone{virtualZone, std::move(addresses)};
        return 0;
    });
}

void hold(const SiteLoudspeaker& speaker, std::set<int> zones, std::set<unsigned> consoles) {
    speaker.zones->setAnnouncements(std::move(zones));
    speaker.zones->setAddresses(std::move(consoles));
}

}  // namespace

void ZoneSite::startStatePackets(const Endpoint& server, std::chrono::milliseconds period) const {
    for (const SiteConsole& console : consoles) console.device->startStatePackets(server, period);
    for (const SiteLoudspeaker& speaker : loudspeakers) speaker.device->startStatePackets(server, period);
}

ZoneSite addBandSite(Simulator& simulator, const SitePlan& plan) {
    SiteBuilder build(simulator, plan);
    ZoneSite site;
    for (const Band& band : orvelBands()) site.loudspeakers.push_back(build.loudspeaker(band.index, band.orvel611));
    return site;
}

ZoneSite addBindingSite(Simulator& simulator, const SitePlan& plan) {
    SiteBuilder build(simulator, plan);
    ZoneSite site;
    site.consoles.push_back(build.console(false));
    site.consoles.push_back(build.console(true));
    for (int index : {18, 19, 21}) site.loudspeakers.push_back(build.loudspeaker(index));
    return site;
}

ZoneSite addBrokenSite(Simulator& simulator, const SitePlan& plan) {
    SiteBuilder build(simulator, plan);
    ZoneSite site;
    for (int n = 0; n < 3; ++n) site.consoles.push_back(build.console(false));
    for (int n = 0; n < 11; ++n) site.loudspeakers.push_back(build.loudspeaker(21));
    const SiteConsole& t1 = site.consoles[0];
    const SiteConsole& t2 = site.consoles[1];
    const SiteConsole& t3 = site.consoles[2];
    const std::vector<SiteLoudspeaker>& l = site.loudspeakers;

    setZone(t1, 1, 101, {l[0].address, kUnknownLoudspeaker});
    hold(l[0], {101}, {t1.address});
    setZone(t1, 2, 102, {t2.address});
    setZone(t1, 3, 103, {l[1].address});
    hold(l[1], {103}, {});
    setZone(t1, 4, 104, {l[2].address});
    hold(l[2], {}, {t1.address});
    setZone(t2, 1, 201, {l[3].address});
    hold(l[3], {201}, {t2.address});
    l[3].device->setReplyPolicy(ReplyPolicy{0, true});
    hold(l[4], {}, {kUnknownConsole});
    hold(l[5], {}, {l[0].address});
    setZone(t3, 1, 301, {l[6].address});
    hold(l[6], {301}, {t3.address});
    t3.device->setReplyPolicy(ReplyPolicy{0, true});
    hold(l[7], {900}, {t2.address});
    hold(l[8], {777}, {});
    setZone(t1, 5, 500, {l[9].address});
    hold(l[9], {500}, {t1.address});
    setZone(t2, 2, 500, {l[10].address});
    hold(l[10], {500}, {t2.address});
    return site;
}

ZoneSite addLineControlSite(Simulator& simulator, const SitePlan& plan) {
    ZoneSite site;
    const int index = 12;
    const unsigned number = plan.firstNumber;
    auto model = std::make_unique<OrvelConfigModel>(Simulator::hardwareAddress(number), index);
    EqualizerStore::install(std::make_shared<EqualizerStore>(index), *model);
    const auto lines = std::make_shared<LineControlStore>();
    LineControlStore::Tip tip;
    tip.flags = 3;  // added and active
    lines->setTip(11, tip);
    lines->setTip(13, tip);
    LineControlStore::install(lines, *model);
    const auto masks = lines->masks();
    model->fields[2] = masks.first;
    model->fields[3] = masks.second;
    SiteLoudspeaker speaker;
    speaker.index = index;
    speaker.address = number & 0xFFFFFF;
    speaker.lines = lines;
    const auto address = Simulator::loopbackAddress(plan.firstAddress, 0);
    if (!address) throw std::out_of_range("the site leaves 127.0.0.0/8");
    speaker.device = &simulator.add(*address, plan.port, std::move(model));
    site.loudspeakers.push_back(speaker);
    return site;
}

}  // namespace device::sim
