// Faults of one loudspeaker under an alarm, for each model: one that falls
// silent, loses a datagram, answers busy, answers ERR, restarts (down 3 s,
// and 5 s) or moves to another address while the notice runs. The others
// take the notice as ever; the faulty one is on the notice's channel while
// it sounds once it answers again (figure `retaken`, from then), the log
// tells the operator what failed, and at the end every loudspeaker holds
// channel 0 and exactly its own volume.
#include <gtest/gtest.h>

#include "tests/trial/trial.h"

using namespace trial;

namespace {

constexpr auto kResponsive = 500ms;
constexpr unsigned kFaulty = 3;
/// How long after it answers again the faulty loudspeaker may take to be
/// on the notice's channel.
constexpr auto kRetake = 10s;

enum class Fault { Silent, LostDatagram, Busy, Error, Restart3, Restart5, Move };

struct FaultCase {
    Fault fault;
    Model model;
};

std::string faultName(Fault fault) {
    switch (fault) {
        case Fault::Silent:
            return "silent";
        case Fault::LostDatagram:
            return "lost_datagram";
        case Fault::Busy:
            return "busy";
        case Fault::Error:
            return "err";
        case Fault::Restart3:
            return "restart_3s";
        case Fault::Restart5:
            return "restart_5s";
        case Fault::Move:
            return "move";
    }
    return "?";
}

std::string modelName(Model model) {
    switch (model) {
        case Model::Orvel610:
            return "orvel610";
        case Model::Orvel510:
            return "orvel510";
        case Model::Orvel611:
            return "orvel611";
    }
    return "?";
}

std::string nameOf(const FaultCase& c) { return faultName(c.fault) + "_" + modelName(c.model); }

class TrialFaults : public ::testing::TestWithParam<FaultCase> {};

}  // namespace

TEST_P(TrialFaults, UnderAnAlarm) {
    const FaultCase c = GetParam();
    Site site = Site::orvel610(20);
    site.loudspeakers[kFaulty - 1].model = c.model;
    site.loudspeakers[kFaulty - 1].volume = ownVolume(c.model, kFaulty);
    Trial trial("fault_" + nameOf(c), site);
    trial.prepareNotice(Path::AlarmPage, 300);
    trial.start();
    trial.openPath(Path::AlarmPage);
    const std::string faulty = std::to_string(kFaulty);

    // Faults that meet the switch are armed before ▶; the others once the
    // notice holds every loudspeaker. `answers` is when the faulty one
    // answers again.
    Trial::Clock::time_point answers;
    switch (c.fault) {
        case Fault::Silent:
            trial.control(faulty + " silent 6");
            answers = Trial::Clock::now() + 6s;
            break;
        case Fault::LostDatagram:
            trial.control(faulty + " lose-next 1");
            break;
        case Fault::Busy:
            trial.control(faulty + " busy 3");
            answers = Trial::Clock::now() + 3s;
            break;
        case Fault::Error:
            trial.control(faulty + " error-on set ch");
            break;
        default:
            break;
    }
    const auto started = trial.startNotice(Path::AlarmPage);
    if (answers < started) answers = started;
    trial.firstDatagram("first_datagram", Receiver::Stream::NoticeHigh, started, 3s);
    const std::vector<unsigned> leftOut{kFaulty};
    trial.check(trial.waitAllTaken(Path::AlarmPage, 15s, leftOut).has_value(),
                "not every other loudspeaker took the notice");

    if (c.fault == Fault::Restart3 || c.fault == Fault::Restart5 || c.fault == Fault::Move) {
        trial.check(trial.waitAllTaken(Path::AlarmPage, 15s).has_value(),
                    "the faulty loudspeaker never took the notice");
        if (c.fault == Fault::Move) {
            trial.control(faulty + " move 127.0.1.200");
            answers = Trial::Clock::now() + std::chrono::seconds(1);
        } else {
            const auto down = c.fault == Fault::Restart3 ? 3s : 5s;
            trial.control(faulty + " restart " + std::to_string(down.count()));
            answers = Trial::Clock::now() + down;
        }
        std::this_thread::sleep_until(answers);  // what the fault does: the loudspeaker is away until then
    }

    if (c.fault == Fault::Error) {
        // It never takes the switch: the operator is told, and it is left alone.
        const bool told = trial.waitHoldings(
            [&](const Trial::Holdings&) {
                for (const std::string& line : trial.toldSinceMark())
                    if (line.find(hardwareOf(kFaulty)) != std::string::npos) return true;
                return false;
            },
            15s);
        trial.check(told, "the log never told that loudspeaker " + faulty + " refused the switch");
    } else {
        const auto retaken = trial.waitAllTaken(
            Path::AlarmPage,
            std::chrono::duration_cast<std::chrono::milliseconds>(answers - Trial::Clock::now() + kRetake));
        if (trial.check(retaken.has_value(), "loudspeaker " + faulty + " was not on the notice's channel " +
                                                 secondsText(kRetake) + " s after it answered again"))
            trial.report().seconds("retaken", *retaken - answers);
    }
    trial.stopNotice(Path::AlarmPage);
    trial.expectOwnVolumes(20s);
    trial.stall("stall", started, kResponsive);
    trial.report().figure("told", std::to_string(trial.toldSinceMark().size()));
    trial.quit("quit", 5s);
}

INSTANTIATE_TEST_SUITE_P(, TrialFaults, ::testing::ValuesIn([] {
                             std::vector<FaultCase> cases;
                             for (const Fault fault :
                                  {Fault::Silent, Fault::LostDatagram, Fault::Busy, Fault::Error,
                                   Fault::Restart3, Fault::Restart5, Fault::Move})
                                 for (const Model model : {Model::Orvel610, Model::Orvel510, Model::Orvel611})
                                     cases.push_back({fault, model});
                             return cases;
                         }()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return nameOf(info.param); });
