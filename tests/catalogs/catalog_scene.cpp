// Leaves a test catalog over real pictures in a temporary folder and prints the catalog's path,
// for scripts that drive the executable: `catalog-scene lightroom` or `catalog-scene capture-one`.
#include "CaptureOneScene.h"
#include "LightroomScene.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string kind = argc == 2 ? argv[1] : "";
    if (kind == "lightroom") {
        vp::testing::LightroomScene scene;
        scene.dir.keep();
        std::printf("%s\n", scene.catalog.path().c_str());
    } else if (kind == "capture-one") {
        vp::testing::CaptureOneScene scene;
        scene.dir.keep();
        std::printf("%s\n", scene.catalog.package().c_str());
    } else {
        std::fputs("usage: catalog-scene lightroom|capture-one\n", stderr);
        return 2;
    }
    return 0;
}
