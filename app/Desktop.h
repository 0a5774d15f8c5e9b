// The desktop window: what `velmo-pristel [FOLDER...]` opens when no report flag or terminal
// command is given.
#pragma once

#include <string>
#include <vector>

namespace vp {

/// Opens the window with `folders` added as sources and returns the exit status once it closes.
/// Without a display it says so on standard error, names the report and terminal commands, and
/// returns 2. `argc`/`argv` are the program's own, for the toolkit.
int runDesktop(int argc, char** argv, const std::vector<std::string>& folders);

} // namespace vp
