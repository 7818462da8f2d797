#pragma once
// How a running simulator holds the name of its link, so that a second one cannot take it and a
// link left over from an earlier run can be told from one in use.

#include <string>

#include "UniqueFd.h"

namespace kestrum_sim {

// Claims `link` (any spelling of the same absolute path is the same claim) for as long as the
// descriptor stays open; an invalid descriptor when another process holds the claim. Throws
// std::system_error when the claim cannot be tried.
xcom::UniqueFd ClaimLinkName(const std::string& link);

}  // namespace kestrum_sim
