#pragma once
// Whether a port present matches what the operator has typed in the port box.

#include <string>

// Its whole text or its file name starts with `typed` (every port matches "").
bool PortMatches(const std::string& port, const std::string& typed);
