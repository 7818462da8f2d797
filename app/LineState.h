#pragma once
// The line's state as status-bar panel 0 shows it, in a few characters.

#include <QString>

enum class TLineState { Closed, Open, Lost, Reopened };

QString LineStateText(TLineState state);
