#pragma once
// The port box's completion list: typing the start of a name (or of its file name: "ttyU")
// lists the devices present that match, Down lists them all, Enter or a click takes one. The
// devices are scanned again each time the list opens. The list only fills in the box: typed text
// is what "打开串口" opens, and nothing is opened by the list itself. A port's description, where
// the system gives one, is its entry's tooltip.

#include <functional>
#include <vector>

#include "SerialPorts.h"

class QLineEdit;

using TPortLister = std::function<std::vector<xcom::SerialPortInfo>()>;

void InstallPortCompletion(QLineEdit* edit, TPortLister listPorts = xcom::ListSerialPorts);
