#include "live/Cgauges.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.141592653589793;

QString RangeMessage(int64_t low, int64_t high)
{
    return QStringLiteral("Value must be between %1 and %2").arg(low).arg(high);
}

// Fills left/top up to but excluding right/bottom, clipped to the image.
void FillRect(QImage& image, int left, int top, int right, int bottom, const QColor& color)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    if (left >= right || top >= bottom) return;
    const QRgb rgb = color.rgb();
    for (int y = top; y < bottom; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        std::fill(line + left, line + right, rgb);
    }
}

// image := image XOR source, pixel by pixel (both RGB32 of the same size).
void XorInto(QImage& image, const QImage& source)
{
    for (int y = 0; y < image.height(); ++y) {
        auto* d = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* s = reinterpret_cast<const QRgb*>(source.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) d[x] ^= (s[x] & 0x00FFFFFFu);
    }
}

// A pie in the box (x1, y1)-(x2, y2), right and bottom excluded, running counterclockwise
// from the radial through `from` to the radial through `to`. Qt takes angles rather than
// points: a point's angle is taken on the ellipse scaled to a circle, as Qt measures its arcs.
void DrawPie(QPainter& painter, int x1, int y1, int x2, int y2, QPointF from, QPointF to, bool whole)
{
    const QRectF box(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
    if (box.width() < 0 || box.height() < 0) return;
    const double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
    const double rx = std::max((x2 - x1) / 2.0, 0.5), ry = std::max((y2 - y1) / 2.0, 0.5);
    auto angleOf = [&](QPointF p) {
        return std::atan2(-(p.y() - cy) / ry, (p.x() - cx) / rx) * 180.0 / kPi;
    };
    const double start = angleOf(from);
    double span = std::fmod(angleOf(to) - start + 720.0, 360.0);
    if (whole || from == to || span <= 0.0) span = 360.0;
    painter.drawPie(box, qRound(start * 16.0), qRound(span * 16.0));
}

// field := value; true when that changed it, and so the gauge must be painted again.
template <class T>
bool Change(T& field, const T& value)
{
    if (value == field) return false;
    field = value;
    return true;
}

}   // namespace

int GaugePercent(int32_t minValue, int32_t maxValue, int32_t progress)
{
    const int64_t range = int64_t(maxValue) - minValue;
    if (range == 0) return 0;
    return static_cast<int>(std::floor(double(int64_t(progress) - minValue) * 100.0 / double(range)));
}

TCGauge::TCGauge(QWidget* parent) : QWidget(parent)
{
    // Every pixel is painted by us: Qt need not clear the area first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(100, 100);
}

int TCGauge::GetPercentDone() const
{
    return GaugePercent(minValue_, maxValue_, progress_);
}

void TCGauge::RepaintNow()
{
    // What the picture says, for a screen reader: the gauge is drawn, never written anywhere.
    setAccessibleDescription(QString::number(GetPercentDone()) + QLatin1Char('%'));
    // Painted before the setter returns when on screen; a hidden gauge only notes it.
    if (isVisible())
        repaint();
    else
        update();
}

void TCGauge::SetKind(TCGaugeKind value)
{
    if (Change(kind_, value)) RepaintNow();
}

void TCGauge::SetShowText(bool value)
{
    if (Change(showText_, value)) RepaintNow();
}

void TCGauge::SetBorderStyle(TBorderStyle value)
{
    if (Change(borderStyle_, value)) RepaintNow();
}

void TCGauge::SetForeColor(const QColor& value)
{
    if (Change(foreColor_, value)) RepaintNow();
}

void TCGauge::SetBackColor(const QColor& value)
{
    if (Change(backColor_, value)) RepaintNow();
}

void TCGauge::SetColor(const QColor& value)
{
    if (Change(color_, value)) RepaintNow();
}

void TCGauge::SetFont(const QFont& value)
{
    if (value == font()) return;
    setFont(value);
    RepaintNow();
}

void TCGauge::SetMinValue(int32_t v)
{
    if (v == minValue_) return;
    if (v > maxValue_)
        throw EGaugeRangeError(
            RangeMessage(-int64_t(std::numeric_limits<int32_t>::max()), int64_t(maxValue_) - 1)
                .toStdString());
    minValue_ = v;
    if (progress_ < v) progress_ = v;
    RepaintNow();
}

void TCGauge::SetMaxValue(int32_t v)
{
    if (v == 0) return;
    if (v < minValue_)
        throw EGaugeRangeError(
            RangeMessage(int64_t(minValue_) + 1, std::numeric_limits<int32_t>::max()).toStdString());
    maxValue_ = v;
    if (progress_ > v) progress_ = v;
    RepaintNow();
}

void TCGauge::SetProgress(int32_t v)
{
    const int before = GetPercentDone();
    v = std::clamp(v, minValue_, maxValue_);
    if (v == progress_) return;
    progress_ = v;
    if (GetPercentDone() != before) RepaintNow();
}

void TCGauge::AddProgress(int32_t v)
{
    // Summed in 64 bits: the clamp to the range then also covers what would overflow.
    const int64_t sum = int64_t(progress_) + v;
    SetProgress(static_cast<int32_t>(std::clamp<int64_t>(sum, minValue_, maxValue_)));
    RepaintNow();
}

void TCGauge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, RenderImage());
    ++paintCount_;
}

QImage TCGauge::RenderImage() const
{
    const int w = width(), h = height();
    QImage image(std::max(w, 1), std::max(h, 1), QImage::Format_RGB32);
    image.fill(Qt::black);
    if (w <= 0 || h <= 0) return image;

    TRect r{0, 0, w, h};
    if (borderStyle_ == bsSingle) r = {1, 1, w - 1, h - 1};   // the black frame stays

    QImage overlay(w, h, QImage::Format_RGB32);
    overlay.fill(Qt::black);
    switch (kind_) {
    case gkText: PaintAsNothing(overlay, r); break;
    case gkHorizontalBar:
    case gkVerticalBar: PaintAsBar(overlay, r); break;
    case gkPie: PaintAsPie(overlay, r); break;
    case gkNeedle: PaintAsNeedle(overlay, r); break;
    }
    XorInto(image, overlay);
    if (showText_) PaintAsText(image, r);
    return image;
}

void TCGauge::PaintAsNothing(QImage& overlay, const TRect& r) const
{
    FillRect(overlay, r.Left, r.Top, r.Right, r.Bottom, backColor_);
}

void TCGauge::PaintAsBar(QImage& overlay, const TRect& r) const
{
    // W and H are one more than R's size; with a frame, the bar's far edge then lands
    // exactly on R's excluded edge. Lengths are taken in integers, so 29 % of 100 pixels is
    // 29 pixels and not a floating-point 28.
    const int64_t percent = GetPercentDone();
    const int W = r.Right - r.Left + 1;
    const int H = r.Bottom - r.Top + 1;
    FillRect(overlay, r.Left, r.Top, r.Right, r.Bottom, backColor_);
    if (kind_ == gkHorizontalBar) {
        const int F = static_cast<int>(std::min<int64_t>(percent * W / 100, W));
        if (F > 0) FillRect(overlay, r.Left, r.Top, F, H, foreColor_);
    } else {
        int F = static_cast<int>(percent * H / 100);
        if (F >= H) F = H - 1;
        FillRect(overlay, r.Left, H - F, W, H, foreColor_);   // rises from the bottom
    }
}

// The face both dials start from: the area in Color around it, then a painter with the
// outline in ForeColor and the face in BackColor.
void TCGauge::BeginDial(QImage& overlay, const TRect& r, QPainter& painter) const
{
    FillRect(overlay, r.Left, r.Top, r.Right, r.Bottom, color_);
    painter.begin(&overlay);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(foreColor_, 1));
    painter.setBrush(backColor_);
}

void TCGauge::PaintAsPie(QImage& overlay, const TRect& r) const
{
    const int percent = GetPercentDone();
    const int grow = borderStyle_ == bsSingle ? 1 : 0;
    const int W = r.Right - r.Left + grow;
    const int H = r.Bottom - r.Top + grow;
    QPainter painter;
    BeginDial(overlay, r, painter);
    painter.drawEllipse(QRectF(r.Left, r.Top, W - r.Left - 1, H - r.Top - 1));
    if (percent <= 0) return;

    // The wedge grows clockwise from 12 o'clock; drawn counterclockwise from its far edge.
    painter.setBrush(foreColor_);
    const int MX = W / 2, MY = H / 2;
    const double A = (percent * 0.02 + 0.5) * kPi;
    const QPointF from(std::floor((1 - std::cos(A)) * MX), std::floor((1 - std::sin(A)) * MY));
    // At 100 % the two points meet in exact arithmetic; floating point misses by a pixel.
    DrawPie(painter, r.Left, r.Top, W, H, from, QPointF(MX, 0), percent >= 100);
}

void TCGauge::PaintAsNeedle(QImage& overlay, const TRect& r) const
{
    const int percent = GetPercentDone();
    const int grow = borderStyle_ == bsSingle ? 1 : 0;
    const int X = r.Left, Y = r.Top;
    const int W = r.Right - r.Left + grow;
    const int H = r.Bottom - r.Top + grow;
    QPainter painter;
    BeginDial(overlay, r, painter);
    // The upper half of an ellipse twice the area's height, standing on its bottom edge.
    DrawPie(painter, X, Y, W, 2 * H - 1, QPointF(X + W, r.Bottom - 1), QPointF(X, r.Bottom - 1),
            false);
    painter.drawLine(X, r.Bottom, X + W - 1, r.Bottom);   // the base line, end excluded
    if (percent <= 0) return;

    const int C = width() / 2;
    const double A = percent * 0.01 * kPi;
    painter.drawLine(QPointF(C, r.Bottom - 1),
                     QPointF(std::floor((1 - std::cos(A)) * C),
                             std::floor((1 - std::sin(A)) * (r.Bottom - 1))));
}

void TCGauge::PaintAsText(QImage& image, const TRect& r) const
{
    // White glyphs on black, XOR'd onto the picture: every glyph pixel turns into the inverse
    // of what lies beneath, so the text reads over the bar and the empty part alike. Glyphs
    // are drawn without smoothing, as grey edge pixels would XOR into stray colours.
    const QString text = QString::number(GetPercentDone()) + QLatin1Char('%');
    QImage mask(image.size(), QImage::Format_RGB32);
    mask.fill(Qt::black);
    {
        QPainter painter(&mask);
        QFont f = font();
        f.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(f);
        painter.setPen(Qt::white);
        painter.setBrush(Qt::NoBrush);
        const QFontMetrics metrics = painter.fontMetrics();
        const int X = (r.Right - r.Left + 1 - metrics.horizontalAdvance(text)) / 2;
        const int Y = (r.Bottom - r.Top + 1 - metrics.height()) / 2;
        painter.setClipRect(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
        painter.drawText(X, Y + metrics.ascent(), text);
    }
    XorInto(image, mask);
}
