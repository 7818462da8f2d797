#pragma once
// Status-bar panel 1 after a successful open: the name, then the rate and format as the
// operator chose them. A serial device server that owns its line's settings (raw TCP) gets no
// rate claimed for it, and settings a server left unanswered are named.

#include <QString>

#include "LineSettingsReport.h"
#include "PortTexts.h"

QString OpenedText(const TPortTexts& texts, const xcom::LineSettingsReport& settings);
