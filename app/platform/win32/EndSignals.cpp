// Windows sends a GUI program no signals to end it; closing its window is the orderly end.
#include "EndSignals.h"

struct TEndSignals::Native {};

TEndSignals::TEndSignals() = default;
TEndSignals::~TEndSignals() = default;
