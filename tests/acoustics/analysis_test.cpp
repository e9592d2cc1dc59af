#include "acoustics/analysis.h"

#include "core/response.h"
#include "signals.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <fstream>

namespace tk770 {
namespace {

using test::pink_noise;
using test::sine;

struct SineCase {
    double rate;
    int band;
    double amplitude_db;
};

class SineInBand : public ::testing::TestWithParam<SineCase> {};

// A sine at a band's centre reads its own level there, 0.0 dB at full scale,
// and leaks nothing into bands two away.
TEST_P(SineInBand, ReadsItsLevelInItsBand)
{
    const auto [rate, band, amplitude_db] = GetParam();
    const auto audio = sine(band_centre(band), std::pow(10.0, amplitude_db / 20.0), rate, static_cast<std::size_t>(2 * rate));
    const auto result = analyse(audio, rate);
    ASSERT_TRUE(std::holds_alternative<BandLevels>(result)) << std::get<std::string>(result);
    const auto& levels = std::get<BandLevels>(result);
    EXPECT_NEAR(levels.band_db[static_cast<std::size_t>(band)], amplitude_db, 0.05);
    for (int other : {band - 2, band + 2}) {
        if (other >= 0 && other < third_octave_count) {
            EXPECT_LT(levels.band_db[static_cast<std::size_t>(other)], amplitude_db - 50.0) << "band " << other;
        }
    }
    EXPECT_NEAR(levels.unweighted_db, amplitude_db, 0.05);
}

INSTANTIATE_TEST_SUITE_P(Rates, SineInBand,
                         ::testing::Values(SineCase{48000, 17, 0.0}, SineCase{44100, 17, 0.0}, SineCase{96000, 17, 0.0},
                                           SineCase{48000, 17, -20.0}, SineCase{48000, 0, 0.0},
                                           SineCase{44100, 1, -6.0}, SineCase{96000, 3, 0.0},
                                           SineCase{48000, 29, -10.0}, SineCase{44100, 30, 0.0},
                                           SineCase{96000, 30, -3.0}));

// A sine on the edge between two bands is split between them (evenly but for
// the window's lobe not sitting symmetrically on the bins); no power is lost
// or counted twice where bins straddle the edge.
TEST(Analysis, SineOnABandEdgeSplitsBetweenTheBands)
{
    const double rate = 48000;
    const auto levels = std::get<BandLevels>(analyse(sine(band_upper_edge(17), 1.0, rate, 96000), rate));
    EXPECT_NEAR(levels.band_db[17], -3.01, 0.2);
    EXPECT_NEAR(levels.band_db[18], -3.01, 0.2);
    const double total = 10.0 * std::log10(std::pow(10.0, levels.band_db[17] / 10) + std::pow(10.0, levels.band_db[18] / 10));
    EXPECT_NEAR(total, 0.0, 0.01);
}

// The weightings against the values the sound level meter standard tabulates
// at the exact band frequencies (one decimal), seen through sines there.
TEST(Analysis, WeightedBroadbandLevelsFollowTheStandardTables)
{
    struct Row {
        int band;
        double a, c;
    };
    for (const Row row : {Row{2, -39.4, -3.0}, Row{7, -19.1, -0.3}, Row{17, 0.0, 0.0}, Row{23, 1.0, -0.8},
                          Row{27, -2.5, -4.4}}) {
        const double f = band_centre(row.band);
        const auto levels = std::get<BandLevels>(analyse(sine(f, 1.0, 48000, 96000), 48000));
        EXPECT_NEAR(levels.a_weighted_db, row.a, 0.06) << f;
        EXPECT_NEAR(levels.c_weighted_db, row.c, 0.06) << f;
        EXPECT_NEAR(a_weighting_db(f), row.a, 0.05) << f;
        EXPECT_NEAR(c_weighting_db(f), row.c, 0.05) << f;
    }
}

// Pink noise holds equal power in every third-octave band. Each Welch
// segment sees a random-phase mix of the noise's lines, so a band's estimate
// scatters like a chi-square with about 2 x bins x segments degrees of
// freedom: a standard error of 4.34 / sqrt(bins x segments) dB. Bands must
// agree with the 1 kHz band within three of those (plus 0.05 dB for the
// window's leakage across edges of a spectrum that falls 3 dB per octave).
// The broadband level is the noise's RMS less the power outside 20 Hz..20 kHz.
TEST(Analysis, PinkNoiseGivesEqualBandLevels)
{
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        const std::size_t log2_length = rate > 48000 ? 20 : 19;
        const auto levels = std::get<BandLevels>(analyse(pink_noise(rate, log2_length, -20.0), rate));
        const int n = segment_points(rate);
        const double segments = std::floor(((1 << log2_length) - n) / (n / 2.0)) + 1;
        const double reference = levels.band_db[17];
        for (int b = 0; b < third_octave_count; ++b) {
            if (rate == 44100.0 && b == 30) continue;  // its upper edge lies past the 22.05 kHz Nyquist limit
            const double bins = (band_upper_edge(b) - band_lower_edge(b)) / (rate / n);
            const double tolerance = 3.0 * 4.34 / std::sqrt(bins * segments) + 0.05;
            EXPECT_NEAR(levels.band_db[static_cast<std::size_t>(b)], reference, tolerance) << rate << " Hz, band " << b;
        }
        // The noise spans 5 Hz to the Nyquist limit with power per log frequency.
        const double inside = std::log(std::min(band_upper_edge(30), rate / 2) / band_lower_edge(0)) / std::log(rate / 2 / 5.0);
        EXPECT_NEAR(levels.unweighted_db, -20.0 + 10.0 * std::log10(inside), 0.1) << rate;
    }
}

// Pink noise through one of the processor's band sections: each band level
// changes by the section's power gain averaged over that band.
TEST(Analysis, KnownFilterShowsItsBandGains)
{
    ParameterImage image{};
    image.eq[0][14] = 60;  // +6 dB at 1 kHz
    ResponseModel model;
    model.ComputeSection(image, 0, 14, kind_band);
    const auto noise = pink_noise(48000, 19, -20.0);
    const auto dry = std::get<BandLevels>(analyse(noise, 48000));
    const auto wet = std::get<BandLevels>(analyse(test::filtered(noise, model.section(14)), 48000));
    for (int b = 0; b < third_octave_count; ++b) {
        const double lo = band_lower_edge(b), hi = band_upper_edge(b);
        double mean = 0;
        constexpr int points = 400;
        for (int p = 0; p < points; ++p)
            mean += std::pow(10.0, section_gain_db(model.section(14), lo * std::pow(hi / lo, (p + 0.5) / points)) / 10.0);
        const double expected = 10.0 * std::log10(mean / points);
        EXPECT_NEAR(wet.band_db[static_cast<std::size_t>(b)] - dry.band_db[static_cast<std::size_t>(b)], expected, 0.1)
            << "band " << b;
    }
    EXPECT_GT(wet.band_db[17] - dry.band_db[17], 5.0);
}

TEST(Analysis, MicrophoneResponseIsSubtracted)
{
    MicCalibration mic;
    mic.response = {{100.0, 1000.0}, {4.0, -2.0}};
    const auto low = sine(100.0, 1.0, 48000, 96000);
    const auto high = sine(4000.0, 1.0, 48000, 96000);
    EXPECT_NEAR(std::get<BandLevels>(analyse(low, 48000, &mic)).band_db[7], -4.0, 0.05);
    EXPECT_NEAR(std::get<BandLevels>(analyse(high, 48000, &mic)).band_db[23], 2.0, 0.05);
}

TEST(Analysis, RefusesUnsupportedRatesAndShortInput)
{
    const auto audio = sine(1000, 1.0, 48000, 70000);
    EXPECT_NE(std::get<std::string>(analyse(audio, 22050)).find("22050 Hz is not supported"), std::string::npos);
    const auto shorter = std::span<const float>(audio).first(1000);
    EXPECT_NE(std::get<std::string>(analyse(shorter, 48000)).find("too little audio"), std::string::npos);
}

class WavFiles : public ::testing::Test {
protected:
    test::ScratchDir dir;

    std::filesystem::path write(const std::string& name, int rate, int channels, const std::vector<float>& interleaved)
    {
        const auto path = dir.path / name;
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(f, nullptr);
        sf_writef_float(f, interleaved.data(), static_cast<sf_count_t>(interleaved.size() / channels));
        sf_close(f);
        return path;
    }
};

// The chosen channel of a multi-channel file is the one analysed.
TEST_F(WavFiles, ReadsTheChosenChannel)
{
    const auto tone = sine(1000.0, 0.5, 48000, 80000);
    std::vector<float> stereo(2 * tone.size(), 0.0f);
    for (std::size_t i = 0; i < tone.size(); ++i) stereo[2 * i + 1] = tone[i];
    const auto path = write("two.wav", 48000, 2, stereo);

    const auto second = read_wav(path, 1);
    ASSERT_TRUE(std::holds_alternative<Audio>(second)) << std::get<std::string>(second);
    EXPECT_EQ(std::get<Audio>(second).rate, 48000.0);
    EXPECT_EQ(std::get<Audio>(second).samples.size(), tone.size());
    const auto levels = std::get<BandLevels>(analyse(std::get<Audio>(second).samples, 48000));
    EXPECT_NEAR(levels.band_db[17], -6.02, 0.05);
    const auto first = std::get<Audio>(read_wav(path, 0));
    EXPECT_EQ(*std::max_element(first.samples.begin(), first.samples.end()), 0.0f);
}

TEST_F(WavFiles, RefusesBadFilesWithAReason)
{
    const auto good = write("mono.wav", 48000, 1, sine(1000, 0.5, 48000, 1000));
    const auto slow = write("slow.wav", 22050, 1, sine(1000, 0.5, 22050, 1000));
    const auto text = dir.path / "notes.wav";
    std::ofstream(text) << "not audio at all\n";
    struct Case {
        std::filesystem::path path;
        int channel;
        std::string says;
    };
    for (const Case& c : {Case{dir.path / "missing.wav", 0, "no such file"}, Case{dir.path, 0, "not a regular file"},
                          Case{text, 0, "not an audio file"}, Case{good, 1, "channel 2 asked for, the file has 1 channel"},
                          Case{good, -1, "channel 0 asked for"},
                          Case{slow, 0, "22050 Hz is not supported"}}) {
        const auto result = read_wav(c.path, c.channel);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << c.says;
        EXPECT_NE(std::get<std::string>(result).find(c.says), std::string::npos) << std::get<std::string>(result);
    }
}

}  // namespace
}  // namespace tk770
