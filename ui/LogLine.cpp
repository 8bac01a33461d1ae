#include "ui/LogLine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ui {

namespace {

// The index of the first sample at or right of pixel p, within 0 .. n.
int FirstAtOrAfter(const LinearMap& x, double p, int n)
{
    const double key = std::ceil(x.ToCoord(p));
    return int(std::clamp(key, 0.0, double(n)));
}

void ExactSegments(const base::SampleColumn& column, const LinearMap& x, const LinearMap& y, double from,
                   double to, std::vector<QLineF>* out)
{
    const int last = column.Count() - 1;
    const int first = int(std::clamp(std::floor(x.ToCoord(from)), 0.0, double(last)));
    const int end = int(std::clamp(std::ceil(x.ToCoord(to)), 0.0, double(last)));
    if (first == end) {   // a lone sample: a point, so that it still draws and can be hit
        const float v = column.At(first);
        if (!std::isnan(v)) {
            const QPointF p(x.ToPixel(first), y.ToPixel(v));
            out->emplace_back(p, p);
        }
        return;
    }
    for (int i = first; i < end; ++i) {
        const float a = column.At(i);
        const float b = column.At(i + 1);
        if (std::isnan(a) || std::isnan(b)) continue;   // a gap in the line
        out->emplace_back(x.ToPixel(i), y.ToPixel(a), x.ToPixel(i + 1), y.ToPixel(b));
    }
}

// One vertical stroke per pixel column over its samples. The join from the previous column's
// last sample (less than a pixel away) is folded into the stroke, so that the strokes of
// neighbouring columns meet.
void ColumnSegments(const base::SampleColumn& column, const LinearMap& x, const LinearMap& y, double from,
                    double to, std::vector<QLineF>* out)
{
    const int n = column.Count();
    const int lastPixel = int(std::floor(to));
    int pixel = int(std::floor(from));
    int begin = FirstAtOrAfter(x, pixel, n);
    // The line comes in from the sample left of the first column.
    float joinFrom = begin > 0 ? column.At(begin - 1) : std::numeric_limits<float>::quiet_NaN();
    for (; pixel <= lastPixel && begin < n; ++pixel) {
        const int end = FirstAtOrAfter(x, pixel + 1, n);
        if (end <= begin) continue;   // no sample in this column
        base::ValueRange range = column.Range(begin, end);
        const float tail = column.At(end - 1);
        begin = end;
        if (range.Empty()) {   // only gaps
            joinFrom = std::numeric_limits<float>::quiet_NaN();
            continue;
        }
        range.Add(joinFrom);
        const double centre = pixel + 0.5;
        out->emplace_back(centre, y.ToPixel(range.high), centre, y.ToPixel(range.low));
        joinFrom = tail;
    }
}

double SegmentDistance(const QPointF& p, const QLineF& s)
{
    const QPointF ab = s.p2() - s.p1();
    const double length2 = QPointF::dotProduct(ab, ab);
    double t = length2 > 0 ? QPointF::dotProduct(p - s.p1(), ab) / length2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const QPointF d = p - (s.p1() + t * ab);
    return std::hypot(d.x(), d.y());
}

}  // namespace

void LineSegments(const base::SampleColumn& column, const LinearMap& x, const LinearMap& y, double from,
                  double to, bool columnwise, std::vector<QLineF>* out)
{
    if (column.Count() == 0 || !(x.scale > 0) || !(from <= to)) return;
    if (columnwise)
        ColumnSegments(column, x, y, from, to, out);
    else
        ExactSegments(column, x, y, from, to, out);
}

double DistanceToSegments(const QPointF& p, const std::vector<QLineF>& segments)
{
    double best = std::numeric_limits<double>::infinity();
    for (const QLineF& s : segments) best = std::min(best, SegmentDistance(p, s));
    return best;
}

}  // namespace ui
