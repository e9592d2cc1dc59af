// The response graph as pixels, so that the window and the command-line tool
// draw exactly the same picture: the grey grid, then the green curve.
#pragma once

#include "core/response.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tk770 {

inline constexpr int graph_width = 635;
inline constexpr int graph_height = 195;

// Pixels are 0xRRGGBB.
inline constexpr std::uint32_t graph_black = 0x000000;
inline constexpr std::uint32_t graph_grey = 0x808080;
inline constexpr std::uint32_t curve_green = 0x00FF00;

class GraphRaster {
public:
    GraphRaster() : m_pixels(static_cast<std::size_t>(graph_width) * graph_height, graph_black) {}

    static bool contains(int x, int y) { return x >= 0 && x < graph_width && y >= 0 && y < graph_height; }
    std::uint32_t at(int x, int y) const { return m_pixels[index(x, y)]; }
    // Points outside the buffer are dropped.
    void set(int x, int y, std::uint32_t colour)
    {
        if (contains(x, y)) m_pixels[index(x, y)] = colour;
    }
    // Row-major, graph_width pixels per row, for blitting.
    const std::uint32_t* data() const { return m_pixels.data(); }

private:
    static std::size_t index(int x, int y) { return static_cast<std::size_t>(y) * graph_width + x; }
    std::vector<std::uint32_t> m_pixels;
};

// Clears to black and draws the grey frame, 0 dB and end rows, tick marks
// and dashed rows of the graph background.
void draw_graph_background(GraphRaster& raster);

// Draws the polyline through (6 + 2k, rows[k]) with a 2-pixel pen.
//
// Each segment is rasterised as an ideal line: along its longer axis every
// integer step gets one pixel, whose other coordinate is the exact line value
// rounded half up. Every such pixel is widened to the 2x2 square it spans to
// the right and below, which gives the 2-pixel pen. Pixels outside the
// buffer are clipped; segments are clipped before stepping, so rows far off
// the graph cost nothing.
void draw_response_curve(GraphRaster& raster, std::span<const int> rows, std::uint32_t colour = curve_green);

// The whole picture for the page of `selected_channel` from the model's
// current sections.
void render_response_graph(GraphRaster& raster, ResponseModel& model, int selected_channel);

}  // namespace tk770
