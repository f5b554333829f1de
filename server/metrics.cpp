#include "metrics.h"

namespace zimble::server {

void Histogram::observe(double v)
{
    for (qsizetype i = 0; i < m_bounds.size(); ++i) {
        if (v <= m_bounds[i]) {
            ++m_counts[i];
            break;
        }
    }
    ++m_total;
    m_sum += v;
}

void Histogram::write(QByteArray& out, const QByteArray& name, const QByteArray& help) const
{
    out += "# HELP " + name + ' ' + help + "\n# TYPE " + name + " histogram\n";
    quint64 cumulative = 0;
    for (qsizetype i = 0; i < m_bounds.size(); ++i) {
        cumulative += m_counts[i];
        out += name + "_bucket{le=\"" + QByteArray::number(m_bounds[i], 'g', 6) + "\"} " + QByteArray::number(cumulative) + '\n';
    }
    out += name + "_bucket{le=\"+Inf\"} " + QByteArray::number(m_total) + '\n';
    out += name + "_sum " + QByteArray::number(m_sum, 'g', 12) + '\n';
    out += name + "_count " + QByteArray::number(m_total) + '\n';
}

QByteArray Metrics::text(int openConnections) const
{
    QByteArray out;
    out += "# HELP zimble_http_requests_total HTTP requests answered, by route and status.\n"
           "# TYPE zimble_http_requests_total counter\n";
    for (auto it = m_requests.cbegin(); it != m_requests.cend(); ++it) {
        const qsizetype space = it.key().lastIndexOf(' ');
        out += "zimble_http_requests_total{route=\"" + it.key().left(space) + "\",status=\"" + it.key().mid(space + 1)
            + "\"} " + QByteArray::number(it.value()) + '\n';
    }
    out += "# HELP zimble_submissions_stored_total Submissions stored.\n# TYPE zimble_submissions_stored_total counter\n"
           "zimble_submissions_stored_total "
        + QByteArray::number(m_stored) + '\n';
    out += "# HELP zimble_submissions_refused_total Submissions not stored, by reason.\n"
           "# TYPE zimble_submissions_refused_total counter\n";
    for (const char* reason : {"invalid", "rate_limited", "storage_error"})
        out += QByteArray("zimble_submissions_refused_total{reason=\"") + reason + "\"} "
            + QByteArray::number(m_refused.value(reason)) + '\n';
    out += "# HELP zimble_records_set_total World records set.\n# TYPE zimble_records_set_total counter\n"
           "zimble_records_set_total "
        + QByteArray::number(m_recordsSet) + '\n';
    out += "# HELP zimble_replays_total Replays checked, by outcome: verified or the reason they were refused.\n"
           "# TYPE zimble_replays_total counter\n";
    for (auto it = m_replays.cbegin(); it != m_replays.cend(); ++it) {
        QByteArray label = it.key();
        label.replace(' ', '_');
        out += "zimble_replays_total{outcome=\"" + label + "\"} " + QByteArray::number(it.value()) + '\n';
    }
    m_batchSize.write(out, "zimble_commit_batch_size", "Submissions per committed transaction.");
    m_commitSeconds.write(out, "zimble_commit_seconds", "Time of a storing transaction, its commit included.");
    out += "# HELP zimble_open_connections Open client connections.\n# TYPE zimble_open_connections gauge\n"
           "zimble_open_connections "
        + QByteArray::number(openConnections) + '\n';
    return out;
}

} // namespace zimble::server
