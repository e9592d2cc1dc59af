// The response curve of one channel as the window draws it right after that
// channel's tab is selected: the page refresh recomputes the channel's
// sections from the image, then the graph is drawn.
#pragma once

#include "core/parameter_image.h"
#include "core/response.h"
#include "core/response_raster.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace tk770 {

struct CurvePoint {
    int k;
    double frequency;  // Hz
    double db;         // summed response of the drawn sections
    int row;           // pixel row on the 195-pixel graph
};

// Recomputes the sections the page refresh of `channel` (0..7) computes.
// Works on its own copy of the image: the shelf rule (a 0 gain designed as
// +0.1 dB) changes only that copy.
class ChannelCurve {
public:
    ChannelCurve(const tk770::ParameterImage& image, int channel);

    QList<CurvePoint> points();
    // The 635 x 195 graph, grid and curve, as the window draws it.
    tk770::GraphRaster graph();
    // The same graph as PNG file bytes; empty if encoding failed.
    std::vector<std::uint8_t> graphPng();

private:
    tk770::ParameterImage m_image;
    int m_channel;
    tk770::ResponseModel m_model;
};

// "k,freq_hz,db,row" lines, one per curve point.
QStringList curveCsvLines(const QList<CurvePoint>& points);

}  // namespace tk770
