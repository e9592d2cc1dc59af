// The response graph: Image1 holds the grid, PaintBox1 the grid with the
// curve. Both pictures come from the core raster routines, the same ones the
// command-line tool's `curve --png` uses, so the two can never differ.
#include "gui/Main.h"

#include <cstring>

namespace {

QImage toImage(const tk770::GraphRaster& raster)
{
    QImage img(tk770::graph_width, tk770::graph_height, QImage::Format_RGB32);
    for (int y = 0; y < tk770::graph_height; ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(img.scanLine(y));
        const std::uint32_t* src = raster.data() + static_cast<std::size_t>(y) * tk770::graph_width;
        for (int x = 0; x < tk770::graph_width; ++x) line[x] = 0xFF000000u | src[x];
    }
    return img;
}

}  // namespace

void TForm1::paintGraphBackground()
{
    tk770::draw_graph_background(m_raster);
    Image1->setPixmap(QPixmap::fromImage(toImage(m_raster)));
}

void TForm1::ComputeSection(int channel, int index, int kind)
{
    m_response.ComputeSection(m_image, channel, index, kind);
}

void TForm1::DrawResponse()
{
    // Renders from the stored sections only; the paint event just shows the
    // result, so a repaint never recomputes the curve.
    tk770::render_response_graph(m_raster, m_response, suiTabControl1->tabIndex());
    PaintBox1->setPicture(toImage(m_raster));
    ++m_drawCount;
}
