// Cost of one response-graph redraw's arithmetic, against the obvious
// evaluation: per point cos/sin of w and 2w, per section a complex quotient
// and a logarithm. All three run in this binary so their ratios come from
// one run on one machine.
#include "core/response.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>

using namespace tk770;

namespace {

// A channel on which every section does something.
ParameterImage busy_image()
{
    ParameterImage image;
    std::memset(&image, 0, sizeof image);
    for (int b = 0; b < band_count; ++b) image.eq[0][b] = static_cast<std::int8_t>(((b * 37) % 121) - 60);
    image.tone[0] = ToneRecord{45, 5, -30, 5};
    return image;
}

void compute_channel(ResponseModel& model, ParameterImage& image)
{
    for (int b = 0; b < band_count; ++b) model.ComputeSection(image, 0, b, kind_band);
    model.ComputeSection(image, 0, 0, kind_bass_shelf);
    model.ComputeSection(image, 0, 0, kind_treble_shelf);
}

CurveRows reference_curve(const ResponseSections& sections, int base, int count)
{
    CurveRows rows;
    double f = curve_first_frequency;
    for (int k = 0; k < curve_point_count; ++k, f *= curve_frequency_step) {
        const double w = 2.0 * std::numbers::pi * f / sample_rate;
        const std::complex<double> z1(std::cos(w), -std::sin(w));
        const std::complex<double> z2(std::cos(2.0 * w), -std::sin(2.0 * w));
        double sum = 0;
        for (int i = 0; i < count; ++i) {
            const BiquadSection& s = sections[i];
            const std::complex<double> h = (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
            sum += 40.0 * std::log(std::abs(h));
        }
        rows[k] = curve_row(base, sum);
    }
    return rows;
}

// The sections are already computed; this is only the curve evaluation.
void BM_ReferenceCurve(benchmark::State& state)
{
    ParameterImage image = busy_image();
    ResponseModel model;
    compute_channel(model, image);
    const ResponseSections sections = model.sections();
    for (auto _ : state) {
        CurveRows rows = reference_curve(sections, 97, response_section_count);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_ReferenceCurve);

// Page refresh: design all 29 sections, then the curve, nothing cached.
void BM_FullCurve(benchmark::State& state)
{
    ParameterImage image = busy_image();
    ResponseModel model;
    for (auto _ : state) {
        compute_channel(model, image);
        CurveRows rows = model.curve_rows(97, response_section_count);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_FullCurve);

// One slider step: one band redesigned on an already drawn curve.
void BM_SingleBandUpdate(benchmark::State& state)
{
    ParameterImage image = busy_image();
    ResponseModel model;
    compute_channel(model, image);
    model.curve_rows(97, response_section_count);
    int step = 0;
    for (auto _ : state) {
        image.eq[0][14] = static_cast<std::int8_t>(step++ % 121 - 60);
        model.ComputeSection(image, 0, 14, kind_band);
        CurveRows rows = model.curve_rows(97, response_section_count);
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_SingleBandUpdate);

}  // namespace

BENCHMARK_MAIN();
