#include "chart.h"

#include <QLocale>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace zimble::server {

namespace {

const QLocale English(QLocale::English, QLocale::UnitedStates);

// Beyond this many scores the dots would merge: the line alone shows them, and the latest gets a dot.
constexpr qsizetype MaxDots = 120;
constexpr qint64 MaxSteps = 5;
constexpr qint64 DayMs = 24 * 60 * 60 * 1000;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return a / b + (a % b != 0 && a > 0 ? 1 : 0);
}

QString day(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd"));
}

// A fraction of the plot as a percentage with at most one decimal.
QString pct(double fraction)
{
    return QString::number(std::round(fraction * 1000.0) / 10.0) + QLatin1Char('%');
}

// The dates under the plot, evenly spaced from the first to the last: five where the span holds
// as many different days, else three or two, one when it is a single day. Narrow charts hide
// the quarters, then the middle (the style sheet's container queries); those left stay evenly
// spaced, so each date still stands where it belongs.
QString dateLabels(qint64 from, qint64 to)
{
    if (day(from) == day(to))
        return QStringLiteral("<ol class=\"xs one\"><li>%1</li></ol>\n").arg(day(from));
    const int parts = to - from >= 4 * DayMs ? 4 : to - from >= 2 * DayMs ? 2 : 1;
    QString out = QStringLiteral("<ol class=\"xs\">");
    for (int k = 0; k <= parts; ++k) {
        const char* kind = k == 0 || k == parts ? "" : parts == 4 && k != 2 ? " class=\"q\"" : " class=\"h\"";
        out += QStringLiteral("<li%1>%2</li>").arg(QLatin1String(kind), day(from + (to - from) / parts * k));
    }
    return out + QStringLiteral("</ol>\n");
}

} // namespace

QList<qint64> ChartScale::ticks() const
{
    QList<qint64> out;
    for (qint64 v = low; v <= high; v += step)
        out.append(v);
    return out;
}

ChartScale chartScale(qint64 lowest, qint64 highest)
{
    if (highest < lowest)
        std::swap(lowest, highest);
    if (highest == lowest) {
        // One score, or the same again and again: a twentieth of it either way, never below 0.
        const qint64 margin = std::max<qint64>(1, std::abs(lowest) / 20);
        lowest = lowest >= 0 ? std::max<qint64>(0, lowest - margin) : lowest - margin;
        highest += margin;
    }
    for (qint64 power = 1;; power *= 10) {
        for (const qint64 m : {1, 2, 5}) {
            const qint64 step = m * power;
            const qint64 low = floorDiv(lowest, step) * step, high = ceilDiv(highest, step) * step;
            if ((high - low) / step <= MaxSteps)
                return {low, high, step};
        }
    }
}

QString historyChart(int board, const QList<HistoryPoint>& points, qint64 best, const QDateTime& bestAt)
{
    // The best is drawn even when it was set before the history shown began (or nothing is shown).
    auto isBest = [&](const HistoryPoint& p) { return p.score == best; };
    const auto bestSent = std::find_if(points.begin(), points.end(), isBest);
    QList<HistoryPoint> dots = points.size() <= MaxDots ? points : points.mid(points.size() - 1);
    if (bestSent == points.end() && (bestAt.isValid() || points.isEmpty()))
        dots.append({bestAt, best});
    qint64 lowest = best, highest = best, from = 0, to = 0;
    bool timed = false;
    auto take = [&](const HistoryPoint& p) {
        lowest = std::min(lowest, p.score);
        highest = std::max(highest, p.score);
        if (!p.at.isValid())
            return;
        const qint64 t = p.at.toMSecsSinceEpoch();
        from = timed ? std::min(from, t) : t;
        to = timed ? std::max(to, t) : t;
        timed = true;
    };
    std::for_each(points.begin(), points.end(), take);
    std::for_each(dots.begin(), dots.end(), take);
    const ChartScale scale = chartScale(lowest, highest);
    auto x = [&](const QDateTime& t) { return to == from || !t.isValid() ? 0.5 : double(t.toMSecsSinceEpoch() - from) / double(to - from); };
    auto y = [&](qint64 score) { return 1.0 - double(score - scale.low) / double(scale.high - scale.low); };
    const QList<qint64> ticks = scale.ticks();

    QString out;
    QTextStream s(&out);
    s << "<figure class=\"chart\">\n<ol class=\"ys\">";
    for (auto t = ticks.rbegin(); t != ticks.rend(); ++t)
        s << "<li>" << English.toString(*t) << "</li>";
    s << "</ol>\n<svg role=\"img\" aria-label=\"ZQs sent for " << board << " &times; " << board << ", from "
      << English.toString(lowest) << " to " << English.toString(highest) << ", best " << best
      << "\" xmlns=\"http://www.w3.org/2000/svg\">\n<title>ZQs sent for " << board << " &times; " << board
      << " over time; the best is ringed</title>\n";
    for (qsizetype k = 1; k < ticks.size(); ++k)
        s << "<line class=\"grid\" x1=\"0\" y1=\"" << pct(y(ticks[k])) << "\" x2=\"100%\" y2=\"" << pct(y(ticks[k])) << "\"/>";
    s << "\n<line class=\"axis\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"100%\"/><line class=\"axis\" x1=\"0\" y1=\"100%\" x2=\"100%\" "
         "y2=\"100%\"/>\n";
    // The line in a box of its own stretched to the plot, its stroke kept as wide at any size.
    if (points.size() > 1) {
        s << "<svg viewBox=\"0 0 1000 1000\" preserveAspectRatio=\"none\" width=\"100%\" height=\"100%\">"
             "<polyline class=\"line\" points=\"";
        for (const HistoryPoint& p : points)
            s << qRound(x(p.at) * 1000) << ',' << qRound(y(p.score) * 1000) << ' ';
        s << "\"/></svg>\n";
    }
    // The ring first, so that the dot it marks, like every other, is drawn over it.
    const QDateTime ringAt = bestSent != points.end() ? bestSent->at : bestAt;
    s << "<circle class=\"top\" cx=\"" << pct(x(ringAt)) << "\" cy=\"" << pct(y(best)) << "\" r=\"7\"/>\n";
    for (const HistoryPoint& p : dots)
        s << "<circle class=\"pt\" cx=\"" << pct(x(p.at)) << "\" cy=\"" << pct(y(p.score)) << "\" r=\"3.5\"/>";
    s << "\n</svg>\n" << (timed ? dateLabels(from, to) : QString())
      << "<figcaption>ZQs sent over time; the ring marks the best, " << best << ".</figcaption>\n</figure>\n";
    s.flush();
    return out;
}

QByteArray chartStyle()
{
    // The plot starts and ends at the middle of the first and last score labels (half a line in
    // from the column's ends) and of the first and last dates (half a date's box beyond the
    // plot), so evenly spaced labels sit on their ticks.
    return ".chart{display:grid;grid-template-columns:minmax(3.5em,max-content) minmax(0,1fr);column-gap:.5em;"
           "max-width:44em;margin:0;padding:.4em 3.5em .5em .5em;background:var(--box);border-radius:4px}\n"
           ".chart ol{list-style:none;margin:0;padding:0;color:var(--muted)}.chart li{line-height:1.25em;white-space:nowrap}\n"
           ".chart .ys{display:flex;flex-direction:column;justify-content:space-between;height:12em;text-align:right}\n"
           ".chart>svg{display:block;width:100%;height:10.75em;margin:.625em 0;overflow:visible}\n"
           ".chart .xs{grid-column:2;display:flex;justify-content:space-between;margin:.2em -3.25em 0;"
           "container-type:inline-size}\n"
           ".chart .xs.one{justify-content:center}.chart .xs li{flex:0 0 6.5em;text-align:center}\n"
           ".chart .xs .h,.chart .xs .q{display:none}\n"
           "@container (min-width:21em){.chart .xs .h{display:block}}\n"
           "@container (min-width:35em){.chart .xs .q{display:block}}\n"
           ".chart figcaption{grid-column:1/-1;color:var(--muted);margin-top:.3em}\n"
           ".chart .grid{stroke:var(--line);stroke-width:1}.chart .axis{stroke:var(--muted);stroke-width:1}\n"
           ".chart .line{fill:none;stroke:var(--link);stroke-width:2;vector-effect:non-scaling-stroke}\n"
           ".chart .pt{fill:var(--link)}.chart .top{fill:none;stroke:var(--zq);stroke-width:2.5}\n";
}

} // namespace zimble::server
