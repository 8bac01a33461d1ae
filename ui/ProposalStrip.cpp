#include "ui/ProposalStrip.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <cmath>

ProposalStrip::ProposalStrip(int columns, int colWidth, int leftMargin, QWidget* parent)
    : QWidget(parent), columns_(columns), colWidth_(colWidth), leftMargin_(leftMargin)
{
    QFont small = font();
    small.setPixelSize(9);
    setFont(small);
    setFixedSize(2 * leftMargin + columns * colWidth, 12);
    hide();
}

void ProposalStrip::SetProposals(const std::vector<std::optional<Proposal>>& proposals)
{
    proposals_ = proposals;
    proposals_.resize(size_t(columns_));
    QStringList said;
    for (const std::optional<Proposal>& p : proposals_)
        if (p) said << p->detail;
    setAccessibleDescription(said.join(QStringLiteral("; ")));
    setVisible(!said.isEmpty());
    update();
}

QString ProposalStrip::ColumnText(int column) const
{
    if (column < 0 || column >= int(proposals_.size()) || !proposals_[size_t(column)]) return {};
    const double percent = proposals_[size_t(column)]->percent;
    const long rounded = std::lround(percent);
    // A change of less than a half percent still shows which way it goes.
    if (rounded == 0) return percent > 0 ? QStringLiteral("+0") : QStringLiteral("-0");
    return (rounded > 0 ? QStringLiteral("+") : QString()) + QString::number(rounded);
}

QColor ProposalStrip::Colour(double percent)
{
    return percent > 0 ? QColor(0, 130, 60) : QColor(200, 90, 0);
}

int ProposalStrip::ColumnAt(int x) const
{
    if (x < leftMargin_) return -1;
    const int column = (x - leftMargin_) / colWidth_;
    return column < columns_ ? column : -1;
}

void ProposalStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    for (int k = 0; k < int(proposals_.size()); ++k) {
        if (!proposals_[size_t(k)]) continue;
        const double percent = proposals_[size_t(k)]->percent;
        const QColor ink = Colour(percent);
        const int x = leftMargin_ + k * colWidth_;
        // The arrow at the cell's left, pointing the way the value goes; the percentage beside it.
        QPainterPath arrow;
        const double cx = x + 3.0;
        if (percent > 0) {
            arrow.moveTo(cx - 2.5, h - 3.0);
            arrow.lineTo(cx + 2.5, h - 3.0);
            arrow.lineTo(cx, 2.0);
        } else {
            arrow.moveTo(cx - 2.5, 3.0);
            arrow.lineTo(cx + 2.5, 3.0);
            arrow.lineTo(cx, h - 2.0);
        }
        arrow.closeSubpath();
        painter.fillPath(arrow, ink);
        painter.setPen(ink);
        const QString digits = ColumnText(k).mid(1);   // the sign is the arrow
        painter.drawText(QRect(x + 6, 0, colWidth_ - 6, h), Qt::AlignLeft | Qt::AlignVCenter, digits);
    }
}

bool ProposalStrip::event(QEvent* e)
{
    if (e->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(e);
        const int column = ColumnAt(help->pos().x());
        if (column >= 0 && column < int(proposals_.size()) && proposals_[size_t(column)])
            QToolTip::showText(help->globalPos(), proposals_[size_t(column)]->detail, this);
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(e);
}
