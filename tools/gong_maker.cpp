// Makes the default gong at build time: a two-tone chime (a high note, then a
// lower one ringing over its tail), synthesised here and encoded with LAME's
// encoder as a mono MP3 of 44.1 kHz. The settings dialog installs it in the
// gong folder.
//
//   gong_maker <output.mp3>

#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

struct Note {
    double frequency;  // Hz
    double start;      // s
};

/// A struck note: a few partials, each dying away faster the higher it is,
/// a short attack against the click of a sudden start and a fade at its end.
void addNote(std::vector<double>& pcm, const Note& note, double length) {
    struct Partial {
        double ratio, level;
    };
    const Partial partials[] = {{1.0, 1.0}, {2.0, 0.35}, {3.0, 0.12}, {4.2, 0.05}};
    const double decay = 0.45;  // s, of the fundamental
    const double attack = 0.008;
    const double fade = 0.05;
    const auto first = static_cast<std::size_t>(note.start * kRate);
    const auto count = static_cast<std::size_t>(length * kRate);
    for (std::size_t i = 0; i < count && first + i < pcm.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        double envelope = std::min(1.0, t / attack) * std::min(1.0, (length - t) / fade);
        double value = 0;
        for (const Partial& p : partials)
            value += p.level * std::exp(-t * p.ratio / decay) * std::sin(2 * kPi * note.frequency * p.ratio * t);
        pcm[first + i] += envelope * value;
    }
}

std::vector<short> chime() {
    const double noteLength = 1.6;
    const Note notes[] = {{659.25, 0.0}, {523.25, 0.55}};
    std::vector<double> pcm(static_cast<std::size_t>((notes[1].start + noteLength) * kRate), 0.0);
    for (const Note& note : notes) addNote(pcm, note, noteLength);
    double peak = 0;
    for (const double v : pcm) peak = std::max(peak, std::fabs(v));
    const double gain = 0.7 * 32767 / peak;  // about -3 dB below full scale
    std::vector<short> samples(pcm.size());
    std::transform(pcm.begin(), pcm.end(), samples.begin(),
                   [gain](double v) { return static_cast<short>(std::lround(v * gain)); });
    return samples;
}

bool encode(const std::vector<short>& samples, const char* path) {
    lame_global_flags* lame = lame_init();
    if (lame == nullptr) return false;
    lame_set_in_samplerate(lame, kRate);
    lame_set_out_samplerate(lame, kRate);
    lame_set_num_channels(lame, 1);
    lame_set_mode(lame, MONO);
    lame_set_brate(lame, 128);
    lame_set_quality(lame, 2);
    lame_set_bWriteVbrTag(lame, 0);
    std::vector<unsigned char> mp3(samples.size() * 5 / 4 + 7200 + 16384);
    int size = -1;
    if (lame_init_params(lame) >= 0) {
        size = lame_encode_buffer(lame, samples.data(), nullptr, static_cast<int>(samples.size()), mp3.data(),
                                  static_cast<int>(mp3.size()));
        if (size >= 0) {
            const int tail = lame_encode_flush(lame, mp3.data() + size, static_cast<int>(mp3.size()) - size);
            size = tail < 0 ? -1 : size + tail;
        }
    }
    lame_close(lame);
    if (size < 0) return false;
    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return false;
    const bool written = std::fwrite(mp3.data(), 1, static_cast<std::size_t>(size), out) ==
                         static_cast<std::size_t>(size);
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: gong_maker <output.mp3>\n");
        return 2;
    }
    if (!encode(chime(), argv[1])) {
        std::fprintf(stderr, "gong_maker: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
