#include "ProgressBarValue.h"

#include <QProgressBar>

#include <algorithm>

void ShowPercent(QProgressBar& bar, int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (bar.value() == percent)
        return;
    bar.setValue(percent);
    bar.update();
}
