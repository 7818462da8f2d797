#pragma once
// What the session shows through the window: log lines, status-list cells and the outcome of
// an open. The session holds no widget; the form implements this.

#include <QString>

#include "PortTexts.h"

class TSessionView {
 public:
  // Appends one whole line at the end of the log.
  virtual void LogLine(const QString& line) = 0;
  // Sets the data column of one status-list row.
  virtual void ShowChannelValue(int row, const QString& text) = 0;
  // The port named in `texts` opened, with those texts applied.
  virtual void ReportOpened(const TPortTexts& texts) = 0;
  // The port did not open: `why` is the whole sentence, `shortWhy` a few characters.
  virtual void ReportOpenFailure(const QString& port, const QString& why,
                                 const QString& shortWhy) = 0;

 protected:
  ~TSessionView() = default;
};
