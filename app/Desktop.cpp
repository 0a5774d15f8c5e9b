#include "Desktop.h"

#include <cstdio>

namespace vp {

int runDesktop(int, char**, const std::vector<std::string>&) {
    std::fputs("velmo-pristel: the desktop window is not built yet. Use --exact, --similar or --series for a\n"
               "report, or clean, history and put-back in the terminal (velmo-pristel --help).\n",
               stderr);
    return 2;
}

} // namespace vp
