#pragma once
// The service's counters, written in the Prometheus text format for GET /metrics.

#include <QByteArray>
#include <QList>
#include <QMap>

namespace zimble::server {

class Histogram {
public:
    explicit Histogram(QList<double> bounds) : m_bounds(std::move(bounds)), m_counts(m_bounds.size(), 0) {}
    void observe(double v);
    void write(QByteArray& out, const QByteArray& name, const QByteArray& help) const;

private:
    QList<double> m_bounds;
    QList<quint64> m_counts; // per bound, not cumulative
    quint64 m_total = 0;
    double m_sum = 0;
};

class Metrics {
public:
    void request(const QByteArray& route, int status) { ++m_requests[route + ' ' + QByteArray::number(status)]; }
    void refused(const QByteArray& reason) { ++m_refused[reason]; }
    void stored(int n) { m_stored += n; }
    void recordsSet(int n) { m_recordsSet += n; }
    // A replay the service checked: verified, or refused with the reason ("score mismatch").
    void replay(const QByteArray& outcome) { ++m_replays[outcome]; }
    void batch(int size, double seconds)
    {
        m_batchSize.observe(size);
        m_commitSeconds.observe(seconds);
    }
    QByteArray text(int openConnections) const;

private:
    QMap<QByteArray, quint64> m_requests; // "route status"
    QMap<QByteArray, quint64> m_refused;
    QMap<QByteArray, quint64> m_replays;
    quint64 m_stored = 0;
    quint64 m_recordsSet = 0;
    Histogram m_batchSize{{1, 2, 4, 8, 16, 32, 64, 128, 256, 512}};
    Histogram m_commitSeconds{{0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 10}};
};

} // namespace zimble::server
