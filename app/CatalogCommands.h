// What the terminal says about catalogs: the lines of markings in `history`, their records for
// scripts, and the words of the plan and the question.
#pragma once

#include "engine/common/Json.h"
#include "model/CatalogMarkings.h"
#include "model/ModelTypes.h"

#include <string>

namespace vp::CatalogCommands {

/// "1. <date>  2 marked Rejected in Main.lrcat, backup <file>  [<id>]", with " (taken back)"
/// once undone.
std::string historyLine(std::size_t number, const MarkingRecord& marking);

/// The record for scripts, with "kind" ("lightroom" or "captureOne") and its date in local time.
Json markingJson(const MarkingRecord& marking);

/// What a photo is marked in the catalog: "Rejected" or "Red".
std::string_view deed(Scope kind);
/// "Mark 2 photos Rejected in Main.lrcat? [y/N] " or "Tag 2 photos Red in Main? [y/N] ".
std::string question(Scope kind, std::size_t photos, const std::string& catalog);
/// The catalog's name as the records give it (file name, or package name without extension).
std::string catalogName(Scope kind, const std::string& path);

} // namespace vp::CatalogCommands
