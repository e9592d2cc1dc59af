#include "acoustics/target.h"
#include "acoustics/text_files.h"

#include "signals.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tk770 {
namespace {

// Microphone files as they ship: the header forms, every separator, skipped
// comment lines, and a phase column.
TEST(MicCalibration, ReadsTheShippedForms)
{
    struct Case {
        std::string text;
        std::optional<double> sensitivity, amplifier;
    };
    const std::string rows = "20\t-2.5\t10\n100,-0.5,0\n1000;0.0\nnote: checked\n10000 1.5\n";
    for (const Case& c : {Case{"\"Sens Factor =-1.378dB, SERNO: 7023270\"\n" + rows, -1.378, std::nullopt},
                          Case{"\"Sens Factor =-1.378dB, AGain =18dB, SERNO: 7023270\"\n" + rows, -1.378, 18.0},
                          Case{"*1000Hz\t-36.6\n" + rows, -36.6, std::nullopt}, Case{rows, std::nullopt, std::nullopt}}) {
        const auto result = parse_mic_calibration(c.text);
        ASSERT_TRUE(std::holds_alternative<MicCalibration>(result)) << std::get<std::string>(result);
        const auto& cal = std::get<MicCalibration>(result);
        EXPECT_EQ(cal.response.frequency_hz, (std::vector<double>{20, 100, 1000, 10000}));
        EXPECT_EQ(cal.response.level_db, (std::vector<double>{-2.5, -0.5, 0.0, 1.5}));
        EXPECT_EQ(cal.sensitivity_db, c.sensitivity);
        EXPECT_EQ(cal.amplifier_gain_db, c.amplifier);
    }
}

// Interpolation is linear on log frequency and flat beyond both ends.
TEST(MicCalibration, InterpolatesOnLogFrequency)
{
    const FrequencyCurve curve{{100, 1000, 10000}, {-2.0, 0.0, 3.0}};
    EXPECT_DOUBLE_EQ(curve.at(10), -2.0);
    EXPECT_DOUBLE_EQ(curve.at(100), -2.0);
    EXPECT_NEAR(curve.at(std::sqrt(100.0 * 1000.0)), -1.0, 1e-12);
    EXPECT_NEAR(curve.at(2000), 3.0 * std::log10(2.0), 1e-12);
    EXPECT_DOUBLE_EQ(curve.at(20000), 3.0);
}

// Bad files are refused with the line that is wrong; both readers share the rules.
TEST(MeasurementFiles, RefuseBadRowsNamingTheLine)
{
    struct Case {
        std::string text, says;
    };
    for (const Case& c : {Case{"", "line 1: no"}, Case{"\"Sens Factor =-1dB\"\n* header\n\n", "line 4: no"},
                          Case{"20 1\n30 2\n30 3\n", "line 3: the frequency does not increase"},
                          Case{"20 1\n10 2\n", "line 2: the frequency does not increase"},
                          Case{"* x\n20 1\n40 abc\n", "line 3: \"abc\" is not a number"},
                          Case{"20 1 0\n40 2 east\n", "line 2: \"east\" is not a number"},
                          Case{"20 1\n40\n", "line 2: a row needs a frequency and a level"},
                          Case{"0 1\n", "line 1: the frequency must be above 0 Hz"}}) {
        for (const auto& result : {parse_mic_calibration(c.text).index() == 1
                                       ? std::get<std::string>(parse_mic_calibration(c.text))
                                       : std::string("accepted"),
                                   parse_measurement(c.text).index() == 1 ? std::get<std::string>(parse_measurement(c.text))
                                                                          : std::string("accepted")})
            EXPECT_EQ(result.rfind(c.says, 0), 0u) << "got \"" << result << "\" for:\n" << c.text;
    }
}

// Both measurement formats are read, and our own writers read back to the
// levels they wrote (one decimal).
TEST(MeasurementFiles, ReadBothFormatsAndReadBackWhatWasWritten)
{
    ThirdOctaveLevels levels{};
    for (int b = 0; b < third_octave_count; ++b) levels[static_cast<std::size_t>(b)] = 70.0 + 0.37 * b - 0.02 * b * b;
    for (const std::string& text : {band_table_text(levels), measurement_export_text(levels, "seat 1, L")}) {
        const auto curve = parse_measurement(text);
        ASSERT_TRUE(std::holds_alternative<FrequencyCurve>(curve)) << std::get<std::string>(curve);
        const auto bands = measurement_bands(std::get<FrequencyCurve>(curve));
        for (int b = 0; b < third_octave_count; ++b)
            EXPECT_NEAR(bands[static_cast<std::size_t>(b)], levels[static_cast<std::size_t>(b)], 0.05) << b;
    }
    EXPECT_EQ(band_table_text(levels).substr(0, 34), "centre_hz,level_db\n20,70.0\n25,70.4");
}

// A fine export holds many rows per band: a band reads their power mean; a
// band that holds no row reads the curve at its centre.
TEST(MeasurementFiles, FineRowsArePowerAveragedPerBand)
{
    const std::string text = "* Freq(Hz), SPL(dB)\n* from a room program\n"
                             "900, 80.0\n950; 86.0\n1050\t80.0\n1100 86.0\n4000,70\n";
    const auto bands = measurement_bands(std::get<FrequencyCurve>(parse_measurement(text)));
    EXPECT_NEAR(bands[17], 10.0 * std::log10((2 * 1e8 + 2 * std::pow(10.0, 8.6)) / 4), 1e-9);
    EXPECT_NEAR(bands[20], 86.0 + (70.0 - 86.0) * std::log(band_centre(20) / 1100.0) / std::log(4000.0 / 1100.0), 1e-9);
    EXPECT_DOUBLE_EQ(bands[0], 80.0);
    EXPECT_DOUBLE_EQ(bands[30], 70.0);
}

TEST(MeasurementFiles, ReadersRefuseWhatIsNotAFile)
{
    test::ScratchDir dir;
    EXPECT_NE(std::get<std::string>(read_measurement(dir.path / "none.txt")).find("none.txt: no such file"),
              std::string::npos);
    EXPECT_NE(std::get<std::string>(read_mic_calibration(dir.path)).find("not a regular file"), std::string::npos);
    const auto bad = dir.path / "cal.txt";
    std::ofstream(bad) << "20 1\n20 2\n";
    EXPECT_NE(std::get<std::string>(read_mic_calibration(bad)).find("cal.txt: line 2:"), std::string::npos);
}

// The named targets at their defining points.
TEST(Targets, NamedCurvesHaveTheirValues)
{
    struct Case {
        std::string name;
        double frequency, db;
    };
    for (const Case& c : {
             Case{"x-curve", 1000, 0.0},        Case{"x-curve", 2000, 0.0},       Case{"x-curve", 4000, -3.0},
             Case{"x-curve", 10000, -7.0},      Case{"x-curve", 20000, -13.0},    Case{"x-curve:500", 4000, -3.0},
             Case{"x-curve:29", 4000, -2.0},    Case{"x-curve:1", 20000, -8.6},   Case{"x-curve:30", 4000, -2.0},
             Case{"x-curve:149", 4000, -2.0},   Case{"x-curve:150", 4000, -2.5},  Case{"x-curve:999", 20000, -13.0},
             Case{"x-curve:1000", 4000, -3.5},  Case{"x-curve:1500", 4000, -4.0}, Case{"x-curve:2000", 4000, -4.5},
             Case{"x-curve:50000", 20000, -19.4}, Case{"small-room", 2000, 0.0},  Case{"small-room", 8000, -3.0},
             Case{"small-room", 16000, -4.5},   Case{"flat", 16000, 0.0},         Case{"flat", 40, 0.0},
         }) {
        const auto target = parse_target(c.name);
        ASSERT_TRUE(std::holds_alternative<Target>(target)) << std::get<std::string>(target);
        EXPECT_NEAR(std::get<Target>(target).db(c.frequency), c.db, 0.05) << c.name << " at " << c.frequency;
    }
}

TEST(Targets, FileTargetInterpolatesAndBadNamesAreRefused)
{
    test::ScratchDir dir;
    const auto path = dir.path / "house.txt";
    std::ofstream(path) << "* our house curve\n100 2\n1000 0\n10000 -4\n";
    const auto target = std::get<Target>(parse_target("file:" + path.string()));
    EXPECT_DOUBLE_EQ(target.db(50), 2.0);
    EXPECT_NEAR(target.db(3162.2776601683795), -2.0, 1e-9);
    EXPECT_DOUBLE_EQ(target.db(16000), -4.0);

    struct Case {
        std::string name, says;
    };
    for (const Case& c : {Case{"x-curves", "unknown target"}, Case{"x-curve:", "seat count"},
                          Case{"x-curve:0", "seat count"}, Case{"x-curve:12a", "seat count"},
                          Case{"file:" + (dir.path / "none.txt").string(), "none.txt: no such file"}}) {
        const auto result = parse_target(c.name);
        ASSERT_TRUE(std::holds_alternative<std::string>(result)) << c.name;
        EXPECT_NE(std::get<std::string>(result).find(c.says), std::string::npos) << std::get<std::string>(result);
    }
}

}  // namespace
}  // namespace tk770
