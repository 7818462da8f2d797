#pragma once
// The line's state as status-bar panel 0 shows it, in a few characters, and what panel 1's
// tooltip tells after an open: the rate and format the device actually runs at.

#include <QString>

#include "OpenFailure.h"

namespace xcom {
class TXComm;
}

enum class LineState { Closed, Open, Lost, Reopened };

QString LineStateText(LineState state);

// The reason an open failed, in a few characters for panel 0 (the full sentence goes into its
// tooltip). `settingRefused`: the device opened but did not take the settings.
QString OpenFailureShortText(const xcom::OpenFailureInfo& failure, bool settingRefused);

// "设备实际：9600 波特，8N1" — read back from the open device.
QString ReadBackSettingsText(xcom::TXComm& comm);
