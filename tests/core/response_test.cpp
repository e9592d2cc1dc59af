#include "core/response.h"
#include "core/response_raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>

using namespace tk770;

namespace {

constexpr int sw = 7;

// An image with every EQ gain 0 and tone turnovers at code 5 (200 Hz bass,
// 3150 Hz treble), subwoofer sections flat and low-pass off.
ParameterImage flat_image()
{
    ParameterImage image;
    std::memset(&image, 0, sizeof image);
    for (auto& tone : image.tone) tone = ToneRecord{0, 5, 0, 5};
    image.sw_filter[0] = SwFilter{60, 0, 2};
    image.sw_filter[1] = SwFilter{80, 0, 2};
    image.sw_lpf_freq = 2;  // 100 Hz
    image.sw_lpf_mode = 0;
    return image;
}

// What a page refresh computes for the channel shown.
void compute_page(ResponseModel& model, ParameterImage& image, int channel)
{
    if (channel == sw) {
        for (int s = 0; s < 2; ++s) model.ComputeSection(image, 0, s, kind_sw_peaking);
        for (int stage = 2; stage <= 5; ++stage) model.ComputeSection(image, 0, stage, kind_sw_lowpass);
        return;
    }
    for (int b = 0; b < band_count; ++b) model.ComputeSection(image, channel, b, kind_band);
    model.ComputeSection(image, channel, 0, kind_bass_shelf);
    model.ComputeSection(image, channel, 0, kind_treble_shelf);
}

CurveRows rows_for(ResponseModel& model, int channel)
{
    const CurveLayout layout = curve_layout(channel, graph_height);
    return model.curve_rows(layout.base, layout.section_count);
}

// The curve the obvious way: per point the complex quotient of every section
// and one logarithm each, summed.
CurveRows reference_rows(const ResponseSections& sections, int base, int count)
{
    CurveRows rows;
    double f = curve_first_frequency;
    for (int k = 0; k < curve_point_count; ++k, f *= curve_frequency_step) {
        const double w = 2.0 * std::numbers::pi * f / sample_rate;
        const std::complex<double> z1(std::cos(w), -std::sin(w));
        const std::complex<double> z2(std::cos(2 * w), -std::sin(2 * w));
        double sum = 0;
        for (int i = 0; i < count; ++i) {
            const auto& s = sections[i];
            const auto h = (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
            sum += 40.0 * std::log(std::abs(h));
        }
        rows[k] = curve_row(base, sum);
    }
    return rows;
}

// ---- section designs against the published figures ----

struct DesignFigure {
    const char* name;
    std::function<void(ParameterImage&)> setup;
    int channel;
    int index;
    int kind;
    int entry;
    double frequency;
    double expected_db;
};

void PrintTo(const DesignFigure& c, std::ostream* os) { *os << c.name; }

class SectionDesignTest : public testing::TestWithParam<DesignFigure> {};

TEST_P(SectionDesignTest, MatchesFigure)
{
    const auto& c = GetParam();
    ParameterImage image = flat_image();
    c.setup(image);
    ResponseModel model;
    model.ComputeSection(image, c.channel, c.index, c.kind);
    EXPECT_NEAR(section_gain_db(model.section(c.entry), c.frequency), c.expected_db, 0.005);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, SectionDesignTest,
    testing::Values(
        DesignFigure{"band_plus6_centre", [](auto& im) { im.eq[2][14] = 60; }, 2, 14, kind_band, 14, 1000, 6.00},
        DesignFigure{"band_plus6_lower_edge", [](auto& im) { im.eq[2][14] = 60; }, 2, 14, kind_band, 14, 891, 3.97},
        DesignFigure{"band_plus6_upper_edge", [](auto& im) { im.eq[2][14] = 60; }, 2, 14, kind_band, 14, 1122, 3.97},
        DesignFigure{"band_minus6_edge", [](auto& im) { im.eq[2][14] = -60; }, 2, 14, kind_band, 14, 1122, -3.97},
        DesignFigure{"band_minus6_centre", [](auto& im) { im.eq[2][14] = -60; }, 2, 14, kind_band, 14, 1000, -6.00},
        DesignFigure{"bass_plus6_low", [](auto& im) { im.tone[1].bass_gain = 60; }, 1, 0, kind_bass_shelf, 27, 20, 6.00},
        DesignFigure{"bass_plus6_turnover", [](auto& im) { im.tone[1].bass_gain = 60; }, 1, 0, kind_bass_shelf, 27, 200, 2.99},
        DesignFigure{"bass_plus6_high", [](auto& im) { im.tone[1].bass_gain = 60; }, 1, 0, kind_bass_shelf, 27, 2000, 0.00},
        DesignFigure{"bass_plus3_turnover", [](auto& im) { im.tone[1].bass_gain = 30; }, 1, 0, kind_bass_shelf, 27, 200, 1.50},
        DesignFigure{"bass_minus6_turnover", [](auto& im) { im.tone[1].bass_gain = -60; }, 1, 0, kind_bass_shelf, 27, 200, -2.99},
        DesignFigure{"treble_plus6_turnover", [](auto& im) { im.tone[1].treble_gain = 60; }, 1, 0, kind_treble_shelf, 28, 3150, 2.99},
        DesignFigure{"treble_plus6_high", [](auto& im) { im.tone[1].treble_gain = 60; }, 1, 0, kind_treble_shelf, 28, 20000, 6.00},
        DesignFigure{"treble_plus6_low", [](auto& im) { im.tone[1].treble_gain = 60; }, 1, 0, kind_treble_shelf, 28, 40, 0.00},
        DesignFigure{"sw_section_centre", [](auto& im) { im.sw_filter[1] = SwFilter{80, -100, 6}; }, 3, 1, kind_sw_peaking, 1, 80, -10.00},
        DesignFigure{"lowpass_at_fc", [](auto& im) { im.sw_lpf_mode = 1; }, 0, 2, kind_sw_lowpass, 2, 100, -3.01},
        DesignFigure{"lowpass_passband", [](auto& im) { im.sw_lpf_mode = 1; }, 0, 2, kind_sw_lowpass, 2, 20, -0.01}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ComputeSection, ZeroGainSectionsAreExactlyUnity)
{
    ParameterImage image = flat_image();
    ResponseModel model;
    model.ComputeSection(image, 4, 9, kind_band);
    model.ComputeSection(image, 0, 1, kind_sw_peaking);
    for (int entry : {9, 1}) {
        const auto& s = model.section(entry);
        EXPECT_EQ(s.b0, 1.0);
        EXPECT_EQ(s.b1, s.a1);
        EXPECT_EQ(s.b2, s.a2);
    }
}

TEST(ComputeSection, ZeroShelfGainBecomesOneTenthInTheImage)
{
    ParameterImage image = flat_image();
    image.tone[3].treble_gain = -25;
    ResponseModel model;
    model.ComputeSection(image, 3, 0, kind_bass_shelf);
    model.ComputeSection(image, 3, 0, kind_treble_shelf);

    EXPECT_EQ(image.tone[3].bass_gain, 1);
    EXPECT_EQ(image.tone[3].treble_gain, -25);  // a real gain is left alone
    EXPECT_EQ(image.tone[2].bass_gain, 0);      // other channels untouched
    EXPECT_NEAR(section_gain_db(model.section(bass_shelf_entry), 20), 0.1, 1e-3);

    // The same section as if the image had held 1 all along.
    ParameterImage one = flat_image();
    one.tone[3].bass_gain = 1;
    ResponseModel other;
    other.ComputeSection(one, 3, 0, kind_bass_shelf);
    EXPECT_EQ(model.section(bass_shelf_entry), other.section(bass_shelf_entry));
}

TEST(ComputeSection, ShelvesLandInTheirEntriesWhateverTheIndex)
{
    ParameterImage image = flat_image();
    image.tone[0].bass_gain = 40;
    image.tone[0].treble_gain = -40;
    ResponseModel model;
    model.ComputeSection(image, 0, 5, kind_bass_shelf);
    model.ComputeSection(image, 0, 6, kind_treble_shelf);
    EXPECT_EQ(model.section(5), BiquadSection{});
    EXPECT_EQ(model.section(6), BiquadSection{});
    EXPECT_NEAR(section_gain_db(model.section(bass_shelf_entry), 20), 4.0, 0.01);
    EXPECT_NEAR(section_gain_db(model.section(treble_shelf_entry), 20000), -4.0, 0.01);
}

TEST(ComputeSection, LowpassStagesFollowTheSlope)
{
    // Stage i is active when i <= mode + 1.
    for (int mode = 0; mode <= 4; ++mode) {
        ParameterImage image = flat_image();
        image.sw_lpf_mode = static_cast<std::uint8_t>(mode);
        ResponseModel model;
        for (int stage = 2; stage <= 5; ++stage) model.ComputeSection(image, 0, stage, kind_sw_lowpass);
        for (int stage = 2; stage <= 5; ++stage) {
            const bool active = stage <= mode + 1;
            EXPECT_EQ(model.section(stage) == unity_section, !active) << "mode " << mode << " stage " << stage;
            if (active) {
                EXPECT_NEAR(section_gain_db(model.section(stage), 100), -3.01, 0.005);
            }
        }
    }
}

TEST(ComputeSection, UnityStageHasNoEffect)
{
    for (double f : {20.0, 100.0, 1000.0, 23000.0})
        EXPECT_DOUBLE_EQ(section_gain_db(unity_section, f), 0.0) << f;
}

TEST(ComputeSection, OutOfRangeCodesUseTheTableEnds)
{
    ParameterImage image = flat_image();
    image.tone[0].treble_gain = 60;
    image.tone[0].treble_freq = 200;  // only a file could hold this
    image.sw_lpf_mode = 1;
    image.sw_lpf_freq = 250;
    ResponseModel model;
    model.ComputeSection(image, 0, 0, kind_treble_shelf);
    model.ComputeSection(image, 0, 2, kind_sw_lowpass);
    EXPECT_NEAR(section_gain_db(model.section(treble_shelf_entry), 8000), 2.99, 0.01);
    EXPECT_NEAR(section_gain_db(model.section(2), 8000), -3.01, 0.01);
}

TEST(ComputeSection, ArgumentsOutsideTheTableChangeNothing)
{
    ParameterImage image = flat_image();
    image.eq[0][0] = 30;
    const ParameterImage before = image;
    ResponseModel model;
    const struct {
        int channel, index, kind;
    } calls[] = {{0, 0, 3}, {0, 0, 6}, {7, 0, kind_band}, {-1, 0, kind_band}, {0, 27, kind_band},
                 {7, 0, kind_bass_shelf}, {0, 2, kind_sw_peaking}, {0, 1, kind_sw_lowpass}, {0, 6, kind_sw_lowpass}};
    for (const auto& c : calls) model.ComputeSection(image, c.channel, c.index, c.kind);
    EXPECT_EQ(model.sections(), ResponseSections{});
    EXPECT_EQ(std::memcmp(&image, &before, sizeof image), 0);
}

// ---- the curve ----

TEST(CurveAxis, PointsAndColumns)
{
    EXPECT_DOUBLE_EQ(curve_frequency(6), 20.0);
    EXPECT_NEAR(curve_frequency(306), 20000.0, 1e-6);
    EXPECT_NEAR(curve_frequency(76), 100.2, 0.05);
    // The last point is the first above 24 kHz.
    EXPECT_LE(curve_frequency(curve_point_count - 2), 24000.0);
    EXPECT_GT(curve_frequency(curve_point_count - 1), 24000.0);
    EXPECT_EQ(curve_first_column + 2 * (curve_point_count - 1), 634);
}

TEST(CurveAxis, LayoutPerChannel)
{
    for (int c = 0; c < sw; ++c) {
        EXPECT_EQ(curve_layout(c, 195).base, 97);
        EXPECT_EQ(curve_layout(c, 195).section_count, 29);
    }
    EXPECT_EQ(curve_layout(sw, 195).base, 47);
    EXPECT_EQ(curve_layout(sw, 195).section_count, 6);
}

TEST(CurveAxis, RowTruncatesTowardZeroAndClampsNonFinite)
{
    EXPECT_EQ(curve_row(97, 0.0), 97);
    EXPECT_EQ(curve_row(97, 0.01), 96);    // 96.98
    EXPECT_EQ(curve_row(97, -0.01), 97);   // 97.02
    EXPECT_EQ(curve_row(0, 0.3), 0);       // -0.6 truncates up to 0
    EXPECT_EQ(curve_row(0, 0.6), -1);      // -1.2
    EXPECT_GT(curve_row(97, -INFINITY), 10000);
    EXPECT_LT(curve_row(97, INFINITY), -10000);
    EXPECT_GT(curve_row(97, NAN), 10000);
}

class CurveTest : public testing::Test {
protected:
    ParameterImage image = flat_image();
    ResponseModel model;

    CurveRows page(int channel)
    {
        compute_page(model, image, channel);
        return rows_for(model, channel);
    }
};

TEST_F(CurveTest, FlatChannelLiesOnRow96)
{
    const CurveRows rows = page(2);
    for (int k = 0; k < curve_point_count; ++k) ASSERT_EQ(rows[k], 96) << "point " << k;
    EXPECT_EQ(image.tone[2].bass_gain, 1);
    EXPECT_EQ(image.tone[2].treble_gain, 1);
}

struct RowFigure {
    const char* name;
    std::function<void(ParameterImage&)> setup;
    int channel;
    int point;
    int row;
};

void PrintTo(const RowFigure& c, std::ostream* os) { *os << c.name; }

class CurveRowTest : public testing::TestWithParam<RowFigure> {};

TEST_P(CurveRowTest, PointLiesOnRow)
{
    const auto& c = GetParam();
    ParameterImage image = flat_image();
    c.setup(image);
    ResponseModel model;
    compute_page(model, image, c.channel);
    EXPECT_EQ(rows_for(model, c.channel)[c.point], c.row);
}

INSTANTIATE_TEST_SUITE_P(
    Figures, CurveRowTest,
    testing::Values(RowFigure{"band14_peak_1002Hz", [](auto& im) { im.eq[0][14] = 60; }, 0, 176, 41},
                    RowFigure{"band14_edge_893Hz", [](auto& im) { im.eq[0][14] = 60; }, 0, 171, 59},
                    RowFigure{"band14_edge_1125Hz", [](auto& im) { im.eq[0][14] = 60; }, 0, 181, 60},
                    RowFigure{"band0_cut_40Hz", [](auto& im) { im.eq[0][0] = -60; }, 0, 36, 151},
                    RowFigure{"sw_flat_low", [](auto&) {}, sw, 0, 47},
                    RowFigure{"sw_flat_high", [](auto&) {}, sw, 314, 47},
                    RowFigure{"lowpass_slope1_100Hz", [](auto& im) { im.sw_lpf_mode = 1; }, sw, 76, 74},
                    RowFigure{"lowpass_slope4_100Hz", [](auto& im) { im.sw_lpf_mode = 4; }, sw, 76, 158}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CurveTest, SubwooferPageIgnoresStaleEntries)
{
    page(0);
    image.eq[0][10] = -90;  // entries 6..26 hold bands; the SW page must not see them
    compute_page(model, image, 0);
    const CurveRows rows = page(sw);
    for (int k = 0; k < curve_point_count; ++k) ASSERT_EQ(rows[k], 47) << "point " << k;
}

// A channel whose every section does something, from a fixed pattern.
void busy_channel(ParameterImage& image, int channel, int seed)
{
    for (int b = 0; b < band_count; ++b)
        image.eq[channel][b] = static_cast<std::int8_t>(((b * 37 + seed * 11) % 121) - 60);
    image.tone[channel] = ToneRecord{static_cast<std::int8_t>(seed % 2 ? 60 : -35), static_cast<std::uint8_t>(seed % 11),
                                     static_cast<std::int8_t>(seed % 3 ? -60 : 45), static_cast<std::uint8_t>(seed % 10)};
}

TEST_F(CurveTest, MatchesStraightforwardEvaluation)
{
    for (int seed = 0; seed < 6; ++seed) {
        busy_channel(image, 1, seed);
        const CurveRows rows = page(1);
        EXPECT_EQ(rows, reference_rows(model.sections(), 97, 29)) << "seed " << seed;
    }
    image.sw_filter[0] = SwFilter{35, -120, 0};
    image.sw_filter[1] = SwFilter{110, 30, 38};
    for (int mode = 0; mode <= 4; ++mode) {
        image.sw_lpf_mode = static_cast<std::uint8_t>(mode);
        image.sw_lpf_freq = static_cast<std::uint8_t>(2 * mode);
        const CurveRows rows = page(sw);
        EXPECT_EQ(rows, reference_rows(model.sections(), 47, 6)) << "mode " << mode;
    }
}

TEST_F(CurveTest, SingleSectionUpdatesEqualAFullRecomputation)
{
    busy_channel(image, 5, 3);
    page(5);
    // Many steps on one slider and others, switching pages in between, as an
    // operator would: each incremental curve must equal a fresh model's.
    for (int step = 0; step < 120; ++step) {
        const int band = (step * 7) % band_count;
        image.eq[5][band] = static_cast<std::int8_t>(60 - step);
        model.ComputeSection(image, 5, band, kind_band);
        if (step % 40 == 39) {
            image.tone[5].bass_gain = static_cast<std::int8_t>(step / 4);
            model.ComputeSection(image, 5, 0, kind_bass_shelf);
        }
        if (step == 60) rows_for(model, sw);  // a shorter sum in between
        const CurveRows incremental = rows_for(model, 5);

        ResponseModel fresh;
        compute_page(fresh, image, 5);
        ASSERT_EQ(fresh.sections(), model.sections());
        ASSERT_EQ(incremental, rows_for(fresh, 5)) << "step " << step;
        ASSERT_EQ(model.curve_sums(29), fresh.curve_sums(29)) << "step " << step;
    }
}

TEST_F(CurveTest, ZeroedSectionsDrawOffTheGraph)
{
    // Before the first refresh every entry is zero: |H| = 0 everywhere.
    const CurveRows rows = rows_for(model, 0);
    for (int row : rows) EXPECT_GE(row, graph_height);
}

// ---- the raster ----

TEST(GraphBackground, PixelsOfTheGrid)
{
    GraphRaster raster;
    draw_graph_background(raster);
    const struct {
        int x, y;
        std::uint32_t colour;
    } cases[] = {
        {0, 0, graph_black},   {1, 1, graph_grey},    {2, 193, graph_grey},  {1, 194, graph_black},
        {632, 100, graph_grey}, {633, 2, graph_grey}, {634, 100, graph_black}, {1, 0, graph_black},
        {300, 1, graph_grey},  {300, 97, graph_grey}, {633, 193, graph_grey}, {300, 96, graph_black},
        {3, 5, graph_grey},    {4, 189, graph_grey},  {3, 6, graph_black},   {630, 193, graph_grey},
        {631, 9, graph_grey},  {5, 5, graph_black},   {629, 5, graph_black},
        {7, 25, graph_grey},   {8, 25, graph_grey},   {9, 25, graph_black},  {10, 25, graph_black},
        {11, 169, graph_grey}, {6, 49, graph_black},  {626, 73, graph_grey}, {627, 121, graph_grey},
        {623, 145, graph_grey}, {624, 145, graph_grey}, {625, 145, graph_black}, {628, 145, graph_black},
        {629, 145, graph_black}, {631, 146, graph_black}, {300, 26, graph_black},
    };
    for (const auto& c : cases) EXPECT_EQ(raster.at(c.x, c.y), c.colour) << c.x << "," << c.y;
}

TEST(GraphBackground, NoVerticalGridInside)
{
    GraphRaster raster;
    draw_graph_background(raster);
    for (int x = 5; x < 630; ++x) {
        int grey = 0;
        for (int y = 0; y < graph_height; ++y) grey += raster.at(x, y) == graph_grey;
        ASSERT_LE(grey, 9) << "column " << x;  // 3 full rows + 6 dashed rows at most
    }
}

TEST(GraphCurve, FlatCurveIsTwoRowsOfGreen)
{
    ParameterImage image = flat_image();
    ResponseModel model;
    compute_page(model, image, 0);
    GraphRaster raster;
    render_response_graph(raster, model, 0);
    for (int x = 0; x < graph_width; ++x) {
        const bool on_curve = x >= 6;
        EXPECT_EQ(raster.at(x, 96) == curve_green, on_curve) << x;
        EXPECT_EQ(raster.at(x, 97) == curve_green, on_curve) << x;
        EXPECT_NE(raster.at(x, 95), curve_green) << x;
        EXPECT_NE(raster.at(x, 98), curve_green) << x;
    }
    EXPECT_EQ(raster.at(3, 97), graph_grey);  // grid left of the curve stays
}

TEST(GraphCurve, SteepSegmentLeavesNoGap)
{
    GraphRaster raster;
    CurveRows rows;
    rows.fill(150);
    rows[100] = 20;  // a spike up and back down
    draw_response_curve(raster, rows);
    const int x = curve_first_column + 2 * 100;
    for (int y = 20; y <= 150; ++y) {
        bool green = false;
        for (int dx = -2; dx <= 1; ++dx) green |= raster.at(x + dx, y) == curve_green;
        ASSERT_TRUE(green) << "row " << y;
    }
    // The pen is two pixels wide, not more: the peak's row has exactly 2
    // pixels, both at the spike's column.
    int peak = 0;
    for (int xx = 0; xx < graph_width; ++xx) peak += raster.at(xx, 20) == curve_green;
    EXPECT_EQ(peak, 2);
    EXPECT_EQ(raster.at(x, 20), curve_green);
    EXPECT_EQ(raster.at(x + 1, 20), curve_green);
}

TEST(GraphCurve, RowsOutsideTheGraphAreClipped)
{
    GraphRaster raster;
    CurveRows rows;
    rows.fill(1'000'000);
    rows[50] = -1'000'000;
    rows[200] = 194;  // the pen's top pixel is the last row
    draw_response_curve(raster, rows);
    for (int y = 0; y < graph_height - 1; ++y) {
        int green = 0;
        for (int x = 0; x < graph_width; ++x) green += raster.at(x, y) == curve_green;
        // Only the two near-vertical walls of the spike at point 50 cross the rows.
        ASSERT_LE(green, 8) << "row " << y;
    }
    EXPECT_EQ(raster.at(curve_first_column + 400, 194), curve_green);
}

}  // namespace
