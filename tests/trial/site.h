#pragma once

#include <string>
#include <vector>

namespace trial {

/// The loudspeaker models a site mixes: the current Orvel-610 (volumes in
/// whole decibels, "-9"), the Orvel-510 (two hex levels, "0B:0B") and the
/// Orvel-611 form of the Orvel-610 firmware.
enum class Model { Orvel610, Orvel510, Orvel611 };

/// One simulated loudspeaker of a site.
struct Loudspeaker {
    Model model = Model::Orvel610;
    /// The volume it powers up with, exactly as "get vol" answers it.
    std::string volume;
    /// How late every reply leaves, in seconds (0.8: 800 ms late).
    double late = 0;
    /// More options of its --fault-device group ("--silent-for", "5", ...).
    std::vector<std::string> options;
};

/// The devices of one trial: loudspeakers numbered from 1 in order, then
/// the consoles, as the simulator numbers them (--fault-device N).
struct Site {
    std::vector<Loudspeaker> loudspeakers;
    unsigned consoles = 0;
    double consoleLate = 0;
    /// The loudspeakers' settings name their own control port as their
    /// command port: they hear the streams on the ports after it, not on
    /// those after the program's base port.
    bool ownPorts = false;

    /// `count` Orvel-610 loudspeakers, each at its own volume; with `late`,
    /// every second one (2, 4, ...) answers that many seconds late.
    static Site orvel610(unsigned count, double late = 0);
    /// `orvel610` Orvel-610 then `orvel510` Orvel-510 loudspeakers, each at
    /// its own volume, every one `late` seconds late.
    static Site mixed(unsigned orvel610, unsigned orvel510, double late);
    /// The simulator's options for the site, after which --holdings and
    /// --control are given.
    std::vector<std::string> simulatorOptions() const;
};

/// The power-on volume of loudspeaker `number` of a site: distinct for
/// every number from 1 to 40 within its model's form ("-6" for number 1,
/// "-7" for 2 ...; "0B:0B" for an Orvel-510 number 1), and never -29 dB or
/// its Orvel-510 level 2A:2A, which the installer sets by hand in the cases.
std::string ownVolume(Model model, unsigned number);

/// The device's number as the simulator lists it to its hardware address
/// ("02:56:53:00:00:0B" for 11).
std::string hardwareOf(unsigned number);
/// Its address: 127.0.1.N.
std::string addressOf(unsigned number);

}  // namespace trial
