#include "core/response_raster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace tk770 {

namespace {

void horizontal(GraphRaster& r, int y, int x0, int x1)
{
    for (int x = x0; x <= x1; ++x) r.set(x, y, graph_grey);
}

void vertical(GraphRaster& r, int x, int y0, int y1)
{
    for (int y = y0; y <= y1; ++y) r.set(x, y, graph_grey);
}

// floor(n / d) for d > 0.
std::int64_t floor_div(std::int64_t n, std::int64_t d)
{
    std::int64_t q = n / d;
    if ((n % d != 0) && (n < 0)) --q;
    return q;
}

// Start + t * num / den rounded half up, den > 0.
int along(int start, std::int64_t t, std::int64_t num, std::int64_t den)
{
    return start + static_cast<int>(floor_div(2 * t * num + den, 2 * den));
}

void pen(GraphRaster& r, int x, int y, std::uint32_t colour)
{
    r.set(x, y, colour);
    r.set(x + 1, y, colour);
    r.set(x, y + 1, colour);
    r.set(x + 1, y + 1, colour);
}

void segment(GraphRaster& r, int x0, int y0, int x1, int y1, std::uint32_t colour)
{
    const std::int64_t dx = static_cast<std::int64_t>(x1) - x0;
    const std::int64_t dy = static_cast<std::int64_t>(y1) - y0;
    if (std::abs(dx) >= std::abs(dy)) {
        if (dx == 0) {  // a single point
            pen(r, x0, y0, colour);
            return;
        }
        const int step = dx > 0 ? 1 : -1;
        // A pen square touches the buffer only for x in [-1, width - 1].
        int lo = std::max(std::min(x0, x1), -1);
        int hi = std::min(std::max(x0, x1), graph_width - 1);
        for (int x = lo; x <= hi; ++x) {
            const std::int64_t t = (x - x0) * step;
            pen(r, x, along(y0, t, dy, dx * step), colour);
        }
    } else {
        const int step = dy > 0 ? 1 : -1;
        int lo = std::max(std::min(y0, y1), -1);
        int hi = std::min(std::max(y0, y1), graph_height - 1);
        for (int y = lo; y <= hi; ++y) {
            const std::int64_t t = (y - y0) * step;
            pen(r, along(x0, t, dx, dy * step), y, colour);
        }
    }
}

// On a black (freshly constructed) raster.
void paint_grid(GraphRaster& r)
{
    for (int x : {1, 2, 632, 633}) vertical(r, x, 1, 193);
    for (int y : {1, 97, 193}) horizontal(r, y, 1, 633);
    for (int y = 1; y <= 193; y += 4) {
        for (int x : {3, 4, 630, 631}) r.set(x, y, graph_grey);
    }
    for (int y : {25, 49, 73, 121, 145, 169}) {
        // Two on, two off from column 7; the last dash ends at 627, leaving
        // the same two-column gap before the right ticks as on the left, so
        // it sits one column closer than the rhythm would put it.
        for (int x = 7; x <= 623; x += 4) horizontal(r, y, x, x + 1);
        horizontal(r, y, 626, 627);
    }
}

}  // namespace

void draw_graph_background(GraphRaster& r)
{
    // Painted once; every redraw starts from a copy, as from a picture.
    static const GraphRaster background = [] {
        GraphRaster grid;
        paint_grid(grid);
        return grid;
    }();
    r = background;
}

void draw_response_curve(GraphRaster& r, std::span<const int> rows, std::uint32_t colour)
{
    for (std::size_t k = 1; k < rows.size(); ++k) {
        const int x = curve_first_column + 2 * static_cast<int>(k);
        segment(r, x - 2, rows[k - 1], x, rows[k], colour);
    }
}

void render_response_graph(GraphRaster& r, ResponseModel& model, int selected_channel)
{
    draw_graph_background(r);
    const CurveLayout layout = curve_layout(selected_channel, graph_height);
    const CurveRows rows = model.curve_rows(layout.base, layout.section_count);
    draw_response_curve(r, rows);
}

}  // namespace tk770
