#pragma once
// Passes and failures per ten minutes since Start, as bars side by side.

#include "ShiftFigures.h"

#include <QChartView>

class QBarCategoryAxis;
class QBarSet;
class QValueAxis;

class CShiftChart : public QChartView {
public:
    explicit CShiftChart(QWidget* parent = nullptr);

    void Show(const CShiftFigures& figures, CShiftFigures::Clock::time_point now);

private:
    QBarSet* m_passes;
    QBarSet* m_failures;
    QBarCategoryAxis* m_times;
    QValueAxis* m_counts;
};
