// A Lightroom Classic catalog over real pictures in a temporary folder, with the spread of
// photos a person's catalog has: an edited photo and its virtual copy, a worked-on duplicate, an
// untouched duplicate stacked with one already rejected, a photo whose file is gone, and a file in a catalog
// folder that the catalog does not list.
#pragma once

#include "CatalogFixtures.h"
#include "engine/catalogs/CatalogFiles.h"
#include "tests/support/Pictures.h"
#include "tests/support/TempDir.h"

#include <filesystem>

namespace vp::testing {

struct LightroomScene {
    explicit LightroomScene(const std::string& version = "1504001") : catalog(dir.folder("Catalogs") + "/Main.lrcat", version) {
        const std::string photos = dir.folder("Photos/2024"), archive = dir.folder("Archive/old");
        writePicture(photos + "/a.jpg", {.width = 64, .height = 48});
        writePicture(photos + "/b.jpg", {.width = 80, .height = 60});
        std::filesystem::copy_file(photos + "/a.jpg", archive + "/a copy.jpg");
        std::filesystem::copy_file(photos + "/a.jpg", photos + "/a rejected.jpg");
        std::filesystem::copy_file(photos + "/a.jpg", photos + "/unlisted.jpg");
        std::filesystem::copy_file(photos + "/b.jpg", archive + "/b copy.jpg");

        // One root as Lightroom Classic writes it (with a trailing "/"), one without.
        const auto photosRoot = catalog.addRoot(dir / "Photos/");
        const auto archiveRoot = catalog.addRoot(dir / "Archive");
        const auto photosFolder = catalog.addFolder(photosRoot, "2024/");
        const auto archiveFolder = catalog.addFolder(archiveRoot, "old/");
        a = catalog.addPhoto(photosFolder, "a.jpg");
        aCopy = catalog.addPhoto(archiveFolder, "a copy.jpg", 0, 3, "Red", "xmp,JPG");
        catalog.addToCollection(aCopy);
        catalog.addKeyword(aCopy);
        b = catalog.addPhoto(photosFolder, "b.jpg");
        bVirtual = catalog.addVirtualCopy(b);
        catalog.addDevelopAdjustments(bVirtual); // only the virtual copy is edited
        bCopy = catalog.addPhoto(archiveFolder, "b copy.jpg", 1);
        gone = catalog.addPhoto(photosFolder, "gone.jpg");
        rejected = catalog.addPhoto(photosFolder, "a rejected.jpg", -1);
        catalog.addToStack(a, 1);
        catalog.addToStack(rejected, 2);
    }

    std::string real(const std::string& relative) const { return *CatalogFiles::realPath(dir / relative); }

    TempDir dir;
    LightroomCatalogFile catalog;
    std::int64_t a = 0, aCopy = 0, b = 0, bVirtual = 0, bCopy = 0, gone = 0, rejected = 0;
};

} // namespace vp::testing
