// Band levels from audio: a Welch-averaged power spectrum (Hann window, 50 %
// overlap) whose bin powers are summed between the band edges. Levels are dB
// relative to full scale: a full-scale sine inside a band reads 0.0 dB there.
#pragma once

#include "acoustics/bands.h"
#include "acoustics/text_files.h"

#include <filesystem>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tk770 {

struct BandLevels {
    ThirdOctaveLevels band_db{};  // 20 Hz .. 20 kHz
    // Broadband levels over the same 20 Hz .. 20 kHz span.
    double unweighted_db = 0;
    double c_weighted_db = 0;
    double a_weighted_db = 0;
};

// The rates the analysis accepts.
bool supported_rate(double rate);
// Points of one Welch segment: 65,536 at 44.1 and 48 kHz, 131,072 at 96 kHz,
// so that even the 20 Hz band spans several bins. The input must hold at
// least one segment.
int segment_points(double rate);

// Refuses an unsupported rate and input shorter than one segment. With a
// microphone calibration its response is subtracted bin by bin.
std::variant<BandLevels, std::string> analyse(std::span<const float> samples, double rate,
                                              const MicCalibration* mic = nullptr);

struct Audio {
    std::vector<float> samples;  // one channel
    double rate = 0;
};

// One channel (0 = first) of an audio file, read with libsndfile. Refuses a
// missing file, a file that is not audio, a channel the file does not have
// and a rate the analysis does not accept.
std::variant<Audio, std::string> read_wav(const std::filesystem::path& path, int channel = 0);

}  // namespace tk770
