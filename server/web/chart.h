#pragma once
// The history chart of a player's page: the scores sent for one board over time.

#include "server/store/playerqueries.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

namespace zimble::server {

// A score axis with round ticks. Invariant: `step` is 1, 2 or 5 times a power of ten, and `low`
// and `high` are multiples of it with between one and five steps from one to the other.
struct ChartScale {
    qint64 low = 0;
    qint64 high = 1;
    qint64 step = 1;
    QList<qint64> ticks() const;
};

// The scale for scores from `lowest` to `highest`; equal ones get a range around them.
ChartScale chartScale(qint64 lowest, qint64 highest);

// The history of one board as HTML around an inline SVG (no script, no style attributes): the
// scores over time on round ticks, dates along the axis, every score a dot while there are few
// enough to tell apart, and the best ringed. Its labels are HTML, so they keep the page's text
// size at any width; the plot is drawn in percentages of whatever size the page gives it.
QString historyChart(int board, const QList<HistoryPoint>& points, qint64 best, const QDateTime& bestAt);

// The chart's part of the page's style sheet.
QByteArray chartStyle();

} // namespace zimble::server
