// velmo-pristel: the headless report when asked for; until the desktop application exists,
// a short usage otherwise.
#include "CommandLineReport.h"
#include "Desktop.h"
#include "TidyCommands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* usage =
    "Usage:\n"
    "  velmo-pristel --similar [conservative|balanced|broad] FOLDER...\n"
    "      Prints groups of other versions of one photo (resized, re-saved, rotated,\n"
    "      lightly edited), with a quality score and a hint for each picture.\n"
    "  velmo-pristel --series FOLDER...\n"
    "      Prints bursts: related shots taken seconds apart in one folder.\n"
    "  velmo-pristel --exact FOLDER...\n"
    "      Prints groups of byte-identical copies.\n"
    "  velmo-pristel --version | --help\n"
    "\n"
    "Nothing is changed on disk. Progress is shown on the terminal; Ctrl-C stops the scan\n"
    "(the report then prints \"cancelled\" and exits with status 1).\n";

} // namespace

int main(int argc, char** argv) {
    vp::CommandLineReport::runIfAsked(argc, argv);
    if (const auto status = vp::TidyCommands::runIfAsked(std::vector<std::string>(argv, argv + argc))) return *status;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velmo-pristel %s\n", VP_VERSION);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            std::fputs("\n", stdout);
            std::fputs(vp::TidyCommands::help, stdout);
            return 0;
        }
    }
    // No report flag and no terminal command: the folders given open in the window.
    return vp::runDesktop(argc, argv, std::vector<std::string>(argv + 1, argv + argc));
}
