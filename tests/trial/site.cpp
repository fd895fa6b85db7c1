#include "tests/trial/site.h"

#include <cstdio>

namespace trial {

namespace {

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

Site Site::orvel610(unsigned count, double late) {
    Site site;
    for (unsigned n = 1; n <= count; ++n)
        site.loudspeakers.push_back(
            {Model::Orvel610, ownVolume(Model::Orvel610, n), n % 2 == 0 ? late : 0, {}});
    return site;
}

Site Site::mixed(unsigned orvel610, unsigned orvel510, double late) {
    Site site;
    for (unsigned n = 1; n <= orvel610 + orvel510; ++n) {
        const Model model = n <= orvel610 ? Model::Orvel610 : Model::Orvel510;
        site.loudspeakers.push_back({model, ownVolume(model, n), late, {}});
    }
    return site;
}

std::vector<std::string> Site::simulatorOptions() const {
    // Index 18: the current Orvel-610 firmware, which switches channels and
    // keeps its settings; the groups make the other models.
    std::vector<std::string> options{"--band",         "18",
                                     "--loudspeakers", std::to_string(loudspeakers.size()),
                                     "--consoles",     std::to_string(consoles)};
    if (ownPorts) options.push_back("--own-ports");
    for (std::size_t i = 0; i < loudspeakers.size(); ++i) {
        const Loudspeaker& speaker = loudspeakers[i];
        options.insert(options.end(), {"--fault-device", std::to_string(i + 1)});
        if (speaker.model == Model::Orvel510) options.insert(options.end(), {"--device-band", "5"});
        if (speaker.model == Model::Orvel611) options.push_back("--orvel611");
        if (!speaker.volume.empty()) options.insert(options.end(), {"--volume", speaker.volume});
        if (speaker.late > 0) options.insert(options.end(), {"--reply-delay", secondsText(speaker.late)});
        options.insert(options.end(), speaker.options.begin(), speaker.options.end());
    }
    if (consoleLate > 0)
        for (unsigned c = 0; c < consoles; ++c)
            options.insert(options.end(), {"--fault-device", std::to_string(loudspeakers.size() + c + 1),
                                           "--reply-delay", secondsText(consoleLate)});
    return options;
}

std::string ownVolume(Model model, unsigned number) {
    if (model == Model::Orvel510) {
        // 0B:0B for 1 up to 33:33 for 40, past 2A:2A.
        unsigned level = 0x0A + number;
        if (level >= 0x2A) ++level;
        char text[8];
        std::snprintf(text, sizeof text, "%02X:%02X", level, level);
        return text;
    }
    // -6 for 1 up to -46 for 40, past -29.
    int decibels = -5 - static_cast<int>(number);
    if (decibels <= -29) --decibels;
    return std::to_string(decibels);
}

std::string hardwareOf(unsigned number) {
    char text[18];
    std::snprintf(text, sizeof text, "02:56:53:%02X:%02X:%02X", (number >> 16) & 0xFF, (number >> 8) & 0xFF,
                  number & 0xFF);
    return text;
}

std::string addressOf(unsigned number) { return "127.0.1." + std::to_string(number); }

}  // namespace trial
