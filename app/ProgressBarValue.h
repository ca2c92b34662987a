#pragma once
// Progress bars of the run displays (the window's rows, the station's tiles).

class QProgressBar;

// Sets the bar to percent (clamped to 0..100) and has it drawn at once:
// QProgressBar repaints only when its value has moved by a whole chunk of
// the style, and a bar must show every percent.
void ShowPercent(QProgressBar& bar, int percent);
