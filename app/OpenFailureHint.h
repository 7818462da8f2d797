#pragma once
// Why the last open-port command failed, for the tooltip of status-bar panel 1: the panel keeps
// its short "<name>打开失败", and the tooltip says in a sentence or two what went wrong and what
// the operator can do about it.

#include <QString>
#include <string>

#include "OpenFailure.h"

// OpenDevice answered false; `failure` is what the platform layer noted for that open.
QString OpenFailureHint(const QString& deviceName, const xcom::OpenFailureInfo& failure);

// An error was raised during the command: while the settings were being applied to the device
// that had just opened (`deviceOpen`), or before it was opened.
QString OpenErrorHint(const QString& deviceName, bool deviceOpen, const std::string& message);

// The reason an open failed, in a few characters for panel 0 (the full sentence goes into its
// tooltip). `settingRefused`: the device opened but did not take the settings.
QString OpenFailureShortText(const xcom::OpenFailureInfo& failure, bool settingRefused);

// The hint as a tooltip: escaped, so that no text typed by the operator is ever read as markup
// (a device name such as "<img src=...>" must not make the tooltip load a file).
QString HintAsToolTip(const QString& hint);
