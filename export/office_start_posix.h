// Starting soffice for the Calc module, apart from the program that asked for it.
#pragma once

#include <string>
#include <vector>

namespace tessaly {

// Runs program with args in a session of its own, stdin/stdout/stderr on /dev/null and no other
// descriptor inherited; a short-lived middle process is reaped here, so the office is never a
// child of the program and leaves no zombie. Throws ConnectError when it cannot be started.
void StartDetached(const std::string& program, const std::vector<std::string>& args);

}  // namespace tessaly
