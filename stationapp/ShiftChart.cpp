#include "ShiftChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QDateTime>
#include <QValueAxis>

#include <algorithm>

CShiftChart::CShiftChart(QWidget* parent)
    : QChartView(parent),
      m_passes(new QBarSet("Passed")),
      m_failures(new QBarSet("Failed")),
      m_times(new QBarCategoryAxis),
      m_counts(new QValueAxis)
{
    m_passes->setColor(QColor("#43a047"));
    m_failures->setColor(QColor("#e53935"));
    auto* series = new QBarSeries;
    series->append(m_passes);
    series->append(m_failures);
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle("Passes and failures per 10 minutes");
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setBackgroundRoundness(0);
    m_counts->setLabelFormat("%d");
    m_counts->setRange(0, 4);
    m_counts->setTickCount(5);
    chart->addAxis(m_times, Qt::AlignBottom);
    chart->addAxis(m_counts, Qt::AlignLeft);
    series->attachAxis(m_times);
    series->attachAxis(m_counts);
    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
}

void CShiftChart::Show(const CShiftFigures& figures, CShiftFigures::Clock::time_point now)
{
    const std::vector<CShiftFigures::SBucket> buckets = figures.Buckets(now);
    // The last hours are enough to see how the shift goes.
    constexpr size_t SHOWN = 18;
    const size_t first = buckets.size() > SHOWN ? buckets.size() - SHOWN : 0;
    QStringList times;
    QList<qreal> passes;
    QList<qreal> failures;
    unsigned most = 0;
    for (size_t i = first; i < buckets.size(); ++i) {
        const auto start = figures.Start() + CShiftFigures::BUCKET * static_cast<int>(i);
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(start.time_since_epoch()).count();
        times << QDateTime::fromSecsSinceEpoch(seconds).toString("HH:mm");
        passes << buckets[i].passes;
        failures << buckets[i].failures;
        most = std::max({most, buckets[i].passes, buckets[i].failures});
    }
    if (times != m_times->categories()) {
        m_times->clear();
        m_times->append(times);
    }
    m_passes->remove(0, m_passes->count());
    m_passes->append(passes);
    m_failures->remove(0, m_failures->count());
    m_failures->append(failures);
    // Whole numbers on the axis: its top a multiple of 4 above the highest bar.
    const unsigned top = std::max(4u, (most + 4) / 4 * 4);
    m_counts->setRange(0, top);
}
