#include "cli/CurveExport.h"

#include "cli/PngEncoder.h"

#include <cmath>
#include <span>
#include <string>


namespace tk770 {

ChannelCurve::ChannelCurve(const ParameterImage& image, int channel) : m_image(image), m_channel(channel)
{
    if (channel == channel_count - 1) {
        // Subwoofer page: the two parametric sections and the low-pass stages.
        for (int s = 0; s < 2; ++s) m_model.ComputeSection(m_image, 0, s, kind_sw_peaking);
        for (int stage = 2; stage <= 5; ++stage) m_model.ComputeSection(m_image, 0, stage, kind_sw_lowpass);
    } else {
        // Equaliser page: every band, then the two shelves.
        for (int b = 0; b < band_count; ++b) m_model.ComputeSection(m_image, channel, b, kind_band);
        m_model.ComputeSection(m_image, channel, 0, kind_bass_shelf);
        m_model.ComputeSection(m_image, channel, 0, kind_treble_shelf);
    }
}

QList<CurvePoint> ChannelCurve::points()
{
    const CurveLayout layout = curve_layout(m_channel, graph_height);
    const auto& sums = m_model.curve_sums(layout.section_count);
    const CurveRows rows = m_model.curve_rows(layout.base, layout.section_count);
    // A sum of 40 ln|H| is 2 ln(10) per decibel.
    const double perDb = 2.0 * std::log(10.0);
    QList<CurvePoint> out;
    out.reserve(curve_point_count);
    for (int k = 0; k < curve_point_count; ++k)
        out.append({k, curve_frequency(k), sums[k] / perDb, rows[k]});
    return out;
}

GraphRaster ChannelCurve::graph()
{
    GraphRaster raster;
    render_response_graph(raster, m_model, m_channel);
    return raster;
}

std::vector<std::uint8_t> ChannelCurve::graphPng()
{
    const GraphRaster raster = graph();
    const std::span<const std::uint32_t> pixels(raster.data(),
                                                static_cast<std::size_t>(graph_width) * graph_height);
    return encodePngRgb(pixels, graph_width, graph_height);
}

QStringList curveCsvLines(const QList<CurvePoint>& points)
{
    QStringList lines;
    lines.reserve(points.size());
    for (const auto& p : points) {
        // A flat curve should read 0.000, not -0.000.
        const double db = std::abs(p.db) < 0.0005 ? 0.0 : p.db;
        lines << QStringLiteral("%1,%2,%3,%4").arg(p.k).arg(p.frequency, 0, 'f', 3).arg(db, 0, 'f', 3).arg(p.row);
    }
    return lines;
}

}  // namespace tk770
