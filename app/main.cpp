// velmo-pristel: a terminal command (clean, compress, history, put-back, undo), the headless report (--exact,
// --similar, --series), the help or the version; otherwise the desktop window with the folders
// given. A command line that is not understood is never taken for folders: it is one line on
// standard error and status 2.
#include "CommandLine.h"
#include "CompressCommands.h"
#include "CommandLineReport.h"
#include "Desktop.h"
#include "Help.h"
#include "TidyCommands.h"

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    if (const auto status = vp::CompressCommands::runIfAsked(arguments)) return *status;
    if (const auto status = vp::TidyCommands::runIfAsked(arguments)) return *status;
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
        if (arguments[i] == "--help" || arguments[i] == "-h") {
            std::fputs(vp::Help::program().c_str(), stdout);
            return 0;
        }
        if (arguments[i] == "--version") {
            std::printf("velmo-pristel %s\n", std::string(vp::CommandLine::version()).c_str());
            return 0;
        }
    }
    vp::CommandLineReport::runIfAsked(argc, argv); // ends the process when a report is asked for

    // No report flag and no terminal command: the folders given open in the window.
    std::vector<std::string> given;
    bool dashes = false; // the first "--" ends the options; it is not a folder
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "--" && !dashes) dashes = true;
        else given.push_back(arguments[i]);
    }
    // A mistyped command is not a folder: a first word that names nothing here is refused.
    if (!given.empty() && arguments[1] != "--" && given.front().find('/') == std::string::npos) {
        struct stat status {};
        if (::stat(given.front().c_str(), &status) != 0) {
            std::fprintf(stderr, "No such command or folder: %s (the commands are clean, compress, history, put-back and undo)\n",
                         vp::CommandLine::asGiven(given.front()).c_str());
            return 2;
        }
    }
    std::vector<std::string> folders; // relative ones from where the program was started
    for (const auto& folder : given) folders.push_back(vp::CommandLine::absolutePath(folder));
    return vp::runDesktop(argc, argv, folders);
}
