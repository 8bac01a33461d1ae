// One log channel against another, coloured by a third: every sample in the time range a point
// at (x, y). Millions of samples cannot be drawn one by one in time, so the plot is drawn per
// pixel: each pixel's colour is the mean of the third channel over the samples that fall on
// it, on the colour scale beside the plot, and its opacity grows with how many fall there. The
// cost is one pass over the samples and one over the pixels, at every zoom.
#pragma once

#include <qcustomplot.h>

#include <functional>
#include <vector>

#include "base/SampleColumn.h"

class ScatterDensity;

class ScatterPlot : public QCustomPlot {
    Q_OBJECT
public:
    explicit ScatterPlot(QWidget* parent = nullptr);

    // An axis of the plot: a column of the log, how its values are captioned, and the power of
    // ten between the column's values and the shown ones. The columns must outlive the plot's
    // use of them (the log chart's own).
    struct Channel {
        const base::SampleColumn* column = nullptr;
        QString caption;   // "Map (kPa)"
        int shift = 0;
    };
    enum Role { X = 0, Y = 1, Colour = 2 };
    void SetChannel(Role role, const Channel& channel);
    // Samples [from, to) are drawn (the time view's range); beyond the log is clamped.
    void SetSampleRange(int from, int to);
    int From() const { return from_; }
    int To() const { return to_; }

    // What a pixel holds after the last drawing: samples on it and their colour channel's mean.
    struct Cell {
        int samples = 0;
        double mean = 0;
    };
    Cell CellAt(const QPoint& pos) const;

    // The text the pointer is told at pos: the x and y there and the colour channel's mean with
    // the samples it is taken over; empty off the plot. Values are written by Format (role, a
    // column's value); the text is also the plot's tooltip.
    QString HoverText(const QPoint& pos) const;
    std::function<QString(Role role, double value)> Format;

    // Rescales to the samples in range and redraws.
    void Refresh();

    // A rectangle dragged over the plot selects the samples in range whose x and y lie inside it
    // (the rectangle stays drawn); Esc or a click outside it clears the selection. The selected
    // samples are kept as spans [begin, end) of consecutive sample indices, ascending, taken when
    // the rectangle was drawn. Choosing another channel clears it (the rectangle would mean
    // other quantities).
    using Span = std::pair<int, int>;
    void Select(const QCPRange& x, const QCPRange& y);   // in the columns' values
    void ClearSelection();
    bool HasSelection() const { return selected_; }
    const std::vector<Span>& Selected() const { return spans_; }
    std::function<void()> OnSelectionChanged;

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void processRectSelection(QRect rect, QMouseEvent* event) override;
    void processPointSelection(QMouseEvent* event) override;

private:
    friend class ScatterDensity;
    std::array<Channel, 3> channels_{};
    int from_ = 0, to_ = 0;
    ScatterDensity* density_ = nullptr;
    QCPColorScale* scale_ = nullptr;
    QCPItemRect* selectionBox_ = nullptr;
    bool selected_ = false;
    std::vector<Span> spans_;
};
