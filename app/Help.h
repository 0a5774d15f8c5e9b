// The help texts of the program and its commands. The lists of presets and keeper priorities are
// made from the enumerations' own names and explanations, so the help, the window and the
// reports never disagree.
#pragma once

#include <string>

namespace vp::Help {

/// `velmo-pristel --help`: every way to start the program, the report's options, the presets,
/// what the report's words mean, the commands and the exit statuses.
std::string program();
/// `velmo-pristel clean --help`, with the keeper priorities and their standard order.
std::string clean();
/// `velmo-pristel history --help`.
std::string history();
/// `velmo-pristel put-back --help`.
std::string putBack();
std::string undo();

/// One line per preset: its raw name, its explanation, "(the default)" for balanced.
std::string presets();
/// One line per keeper priority: its raw name and its name in the settings; then the standard order.
std::string priorities();

} // namespace vp::Help
