#pragma once
// The platform's last error number of the calling thread and its message text.

#include <string>

namespace xcom {

int LastSystemError();

// The system's own message for `error`, untrimmed; empty when it has none.
std::string SystemErrorText(int error);

}  // namespace xcom
