// A Capture One catalog over real pictures: imported originals inside the package, referenced
// files outside it (one location with an empty volume root), an image with two variants, a
// worked-on duplicate, an image tagged Red, one in Capture One's Trash and one whose file is gone.
#pragma once

#include "CatalogFixtures.h"
#include "engine/catalogs/CatalogFiles.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <filesystem>

namespace vp::testing {

struct CaptureOneScene {
    explicit CaptureOneScene(const std::string& version = "160800")
        : catalog(dir.folder("Catalogs") + "/Main.cocatalog", version) {
        const std::string originals = dir.folder("Catalogs/Main.cocatalog/Originals/2024");
        const std::string photos = dir.folder("Photos/2024"), referenced = dir.folder("Referenced");
        writePicture(originals + "/x.jpg", {.width = 64, .height = 48});
        writePicture(photos + "/w.jpg", {.width = 80, .height = 60});
        std::filesystem::copy_file(originals + "/x.jpg", photos + "/y.jpg");
        std::filesystem::copy_file(originals + "/x.jpg", photos + "/red.jpg");
        std::filesystem::copy_file(photos + "/w.jpg", referenced + "/z.jpg");

        const auto inPackage = catalog.addLocation("", "Originals/2024", true, true);
        const auto onVolume = catalog.addLocation(dir.path(), "Photos/2024/");
        // No volume root: the relative path is taken from "/".
        const auto fromTop = catalog.addLocation("", (dir / "Referenced").substr(1), false, true);

        x = catalog.addImage(inPackage, "x.jpg");
        xVariant = catalog.addVariant(x, false, 0, -1); // tags never set: NULL
        y = catalog.addImage(onVolume, "y.jpg");
        catalog.addVariant(y, true);
        catalog.addVariant(y);
        w = catalog.addImage(onVolume, "w.jpg");
        catalog.addVariant(w, false, 2, 0, "beach");
        catalog.addToAlbum(w);
        catalog.addToAlbum(w, true); // a smart album's group: not an album
        z = catalog.addImage(fromTop, "z.jpg");
        zVariant = catalog.addVariant(z);
        red = catalog.addImage(onVolume, "red.jpg");
        catalog.addVariant(red, false, 0, 1);
        trashed = catalog.addImage(onVolume, "trashed.jpg", true);
        catalog.addVariant(trashed);
        gone = catalog.addImage(onVolume, "gone.jpg");
        catalog.addVariant(gone);
    }

    std::string real(const std::string& relative) const { return *CatalogFiles::realPath(dir / relative); }

    TempDir dir;
    CaptureOneCatalogFile catalog;
    std::int64_t x = 0, y = 0, w = 0, z = 0, red = 0, trashed = 0, gone = 0;
    CaptureOneCatalogFile::Variant xVariant, zVariant;
};

} // namespace vp::testing
