#pragma once
// The port box's completion list: typing the start of a name (or of its file name: "ttyU")
// lists the devices present that match, Down lists them all, Enter or a click takes one. The
// devices are scanned again each time the list opens. The list only fills in the box: typed text
// is what "打开串口" opens, and nothing is opened by the list itself.

#include "PortScan.h"

class QLineEdit;

void InstallPortCompletion(QLineEdit* edit, const TPortFolders& folders);
