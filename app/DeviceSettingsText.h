#pragma once
// What panel 1's tooltip tells after an open: the rate and format the device actually runs at.

#include <QString>

namespace xcom {
class TXComm;
}

// "设备实际：9600 波特，8N1" — read back from the open device.
QString ReadBackSettingsText(xcom::TXComm& comm);
