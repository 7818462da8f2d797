#pragma once
// The three texts an open applies, as the operator typed them: the port name, the baud rate
// and the character format.

#include <QString>

struct TPortTexts {
  QString port, baud, format;
  bool operator==(const TPortTexts&) const = default;
};
