#pragma once
// What the pointer can hit on the program's visible windows, for tests that
// drive the real program with real pointer events: when the environment
// names a file in UPDATE_STATION_WIDGET_MAP, the file is replaced every
// 200 ms with one line per thing, its kind, its text and its centre on the
// screen: "window|button|label|item|check<TAB>TEXT<TAB>X<TAB>Y<TAB>ENABLED"
// (a newline in a text written as \n). Nothing happens without the variable.

class QObject;

void StartWidgetMap(QObject* parent);
