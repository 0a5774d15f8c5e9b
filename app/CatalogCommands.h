// What the terminal says about catalogs: the markings of both catalog kinds as one list, newest
// first, their lines in `history`, their records for scripts, and what a marking run reports.
#pragma once

#include "engine/catalogs/CaptureOneMarker.h"
#include "engine/catalogs/LightroomRejecter.h"
#include "engine/common/Json.h"
#include "model/ModelTypes.h"

#include <string>
#include <variant>
#include <vector>

namespace vp {
class PhotoCleanupModel;
}

namespace vp::CatalogCommands {

/// One marking (Lightroom Classic) or tagging (Capture One).
using Marking = std::variant<LightroomMarkRecord, CaptureOneMarkRecord>;

/// Every marking of both kinds the model knows of, newest first.
std::vector<Marking> markings(const PhotoCleanupModel& model);

const Uuid& id(const Marking& marking);
bool isTakenBack(const Marking& marking);

/// "1. <date>  2 marked Rejected in Main.lrcat, backup in <folder>  [<id>]", with
/// " (taken back)" once undone.
std::string historyLine(std::size_t number, const Marking& marking);

/// The record for scripts, with "kind" ("lightroom" or "captureOne") and its date in local time.
Json markingJson(const Marking& marking);

/// What a photo is marked in the catalog: "Rejected" or "Red".
std::string_view deed(Scope kind);
/// "Mark 2 photos Rejected in Main.lrcat? [y/N] " or "Tag 2 photos Red in Main? [y/N] ".
std::string question(Scope kind, std::size_t photos, const std::string& catalog);
/// The catalog's name as the records give it (file name, or package name without extension).
std::string catalogName(Scope kind, const std::string& path);

} // namespace vp::CatalogCommands
