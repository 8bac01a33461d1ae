// The line of one log series as the chart draws it, and as the pointer's hit test sees it: the
// same segments serve both, so a click lands on what is on screen.
//
// Where samples stand at least a pixel apart the line is exact: a segment between each two
// neighbouring samples. Where samples share pixel columns, each column gets one vertical stroke
// from its lowest to its highest sample, stretched to the previous column's last sample (less
// than a pixel away) so that the strokes join up. Every sample then lies on the drawing, at
// every zoom, and the cost follows the width in pixels, not the samples.
#pragma once

#include <QLineF>

#include <vector>

#include "base/SampleColumn.h"

namespace ui {

// A linear map between data coordinates and pixels.
struct LinearMap {
    double origin;   // the pixel of coordinate 0
    double scale;    // pixels per unit of the coordinate
    double ToPixel(double c) const { return origin + c * scale; }
    double ToCoord(double p) const { return (p - origin) / scale; }
};

// Samples per pixel column beyond which a line is drawn column by column.
inline constexpr double kColumnwiseDensity = 1;

// Appends to *out the segments of the line of `column` over the pixels from .. to of the
// sample axis x (whose scale must be positive), with the samples' neighbours just outside, so
// that the line runs on to the edges. columnwise: one vertical stroke per pixel column, as
// above, from top (p1) to bottom (p2).
void LineSegments(const base::SampleColumn& column, const LinearMap& x, const LinearMap& y, double from,
                  double to, bool columnwise, std::vector<QLineF>* out);

// The distance in pixels from p to the nearest of the segments; infinity for none.
double DistanceToSegments(const QPointF& p, const std::vector<QLineF>& segments);

}  // namespace ui
