#include "Help.h"

#include "engine/review/KeeperPolicy.h"
#include "engine/similarity/QualityHints.h"
#include "engine/similarity/QualityScore.h"
#include "engine/similarity/SimilarityIndex.h"

#include <algorithm>

namespace vp::Help {

namespace {

/// `text` wrapped at 96 columns, continuation lines indented by `indent` blanks; the first
/// line starts at that column too (the caller has filled it).
std::string wrapped(std::string_view text, std::size_t indent) {
    constexpr std::size_t width = 96;
    std::string out;
    std::size_t column = indent;
    bool first = true;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(' ', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view word = text.substr(at, end - at);
        if (!first && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (!first) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        first = false;
        at = end + 1;
    }
    return out;
}

/// "  name          text", the text wrapped under itself.
std::string entry(std::string_view name, std::string_view text) {
    constexpr std::size_t column = 18;
    std::string line = "  " + std::string(name);
    if (line.size() + 1 >= column) line += "\n" + std::string(column, ' ');
    else line += std::string(column - line.size(), ' ');
    return line + wrapped(text, column) + "\n";
}

const char* const exitStatuses =
    "Exit status:\n"
    "  0  done\n"
    "  1  declined, cancelled (Ctrl-C) or interrupted\n"
    "  2  the command line is not understood, or a folder or cleanup it names is not there\n"
    "  3  the plan or the cleanup was refused, or nothing was put back\n"
    "  4  some pictures were skipped or failed\n";

} // namespace

std::string presets() {
    std::string text;
    for (const auto preset : allCases<SimilarityPreset>()) {
        std::string explanation(vp::explanation(preset));
        if (preset == SimilarityPreset::balanced) explanation += " (The default.)";
        text += entry(rawValue(preset), explanation);
    }
    return text;
}

std::string priorities() {
    std::string text;
    for (const auto priority : allCases<KeeperPolicy::Priority>())
        text += entry(rawValue(priority), std::string(KeeperPolicy::name(priority)) + ".");
    std::string order;
    for (const auto priority : KeeperPolicy::standard) order += (order.empty() ? "" : ",") + std::string(rawValue(priority));
    return text + "  Standard order: " + order + "\n";
}

std::string program() {
    std::string text =
        "Usage:\n"
        "  velmo-pristel [FOLDER...]\n"
        "      Opens the desktop window with the folders.\n"
        "  velmo-pristel --similar [PRESET] FOLDER... [--json] [--skipped] [--no-cache]\n"
        "      Prints groups of other versions of one photo (resized, re-saved, rotated, cropped or\n"
        "      lightly edited), with a quality score and a hint for each picture.\n"
        "  velmo-pristel --series FOLDER... [--json] [--skipped] [--no-cache]\n"
        "      Prints bursts: related shots taken seconds apart in one folder.\n"
        "  velmo-pristel --exact FOLDER... [--json] [--skipped]\n"
        "      Prints groups of byte-identical copies.\n"
        "  velmo-pristel clean|compress|history|put-back|undo ...\n"
        "      Tidies from the terminal (below; velmo-pristel COMMAND --help tells more).\n"
        "  velmo-pristel --version | --help\n"
        "\n"
        "The folders come right after the mode flag; options may come before the flag or after the\n"
        "folders, and everything after -- is a folder. The report changes nothing on disk.\n"
        "\n"
        "Report options:\n";
    text += entry("--json", "Prints one JSON document instead of the text: the groups with every picture's size, "
                            "pixels, date, quality, hints and the copy to keep, and what was left out (README.md "
                            "describes it).");
    text += entry("--skipped", "Lists what the scan left out, one per line with its reason, on standard error. "
                               "Without it only the count by reason is told there.");
    text += entry("--no-cache", "Reads every file again instead of using the scan cache.");
    text += entry("--library [shotwell|PHOTO.DB]", "Scans a Shotwell library instead of folders (yours, or the "
                                                   "photo.db given) and adds the approved copies to its tag "
                                                   "\u201cVelmo Pristel Review\u201d; nothing is deleted. Shotwell "
                                                   "must be closed.");
    text += "\nPresets (--similar and clean --preset):\n" + presets();
    text += "\nIn the report:\n";
    text += entry("quality N", std::string(QualityScore::explanation));
    text += entry("[hint]", "A local measurement shown only when the difference is clear: clearly the sharpest, "
                            "brighter or darker, much pure black or white.");
    text += entry("close pairs", "Pairs of pictures whose perceptual hashes lie close enough to be compared "
                                 "in detail; the preset then decides which of them are versions of one photo.");
    text += entry("measured", "Pictures whose look was measured (hashes, sharpness, exposure, quality).");
    text += "\nWhat the scan leaves out (damaged, not decodable here, too large, unreadable, hidden,\n"
            "package folders, ...) is counted on standard error; progress is shown there on a terminal.\n"
            "Ctrl-C stops the scan (the report then prints \"cancelled\" and exits with status 1).\n\n";
    text += "Tidying from the terminal:\n"
            "  velmo-pristel clean [OPTION...] FOLDER...\n"
            "      Shows the groups and the plan, and moves the copies you approve to the Trash.\n"
            "  velmo-pristel history [--json]\n"
            "      Lists earlier cleanups, newest first.\n"
            "  velmo-pristel put-back CLEANUP [PATH...]\n"
            "      Puts back what a cleanup moved to the Trash.\n"
            "  velmo-pristel clean --lightroom CATALOG | --capture-one CATALOG\n"
            "      Marks the copies in a catalog (Rejected, or tagged Red) instead of moving them.\n"
            "  velmo-pristel undo MARKING\n"
            "      Takes a catalog marking back.\n"
            "  velmo-pristel compress [--videos] [--live-photos] [--images] [OPTION...] FOLDER...\n"
            "      Replaces big videos with HEVC copies at most 1080p, keeps only the stills of Live\n"
            "      Photos and converts JPEG and TIFF photos to HEIC; put-back C<N> undoes a compression.\n"
            "  velmo-pristel compress --library [shotwell|PHOTO.DB] [--videos] [--live-photos] [OPTION...]\n"
            "      Does the same for the videos and Live Photos of a Shotwell library, through Shotwell's\n"
            "      own records.\n\n";
    return text + exitStatuses;
}

std::string clean() {
    std::string text =
        "Usage: velmo-pristel clean [OPTION...] FOLDER...\n"
        "       velmo-pristel clean [OPTION...] --lightroom CATALOG.lrcat\n"
        "       velmo-pristel clean [OPTION...] --capture-one CATALOG.cocatalog\n"
        "\n"
        "Scans the folders, suggests which copy of every group to keep, shows the plan and, once you\n"
        "approve it, moves the other copies to the Trash (where they can be put back). Every picture is\n"
        "checked again right before it moves. Folders protected in your settings stay protected; the\n"
        "options here hold for this run only and never change your settings.\n"
        "\n"
        "Options:\n";
    text += entry("--lightroom CATALOG", "Scans the photos of a Lightroom Classic catalog instead of folders and "
                                         "marks the copies Rejected in it, after a backup beside the catalog; "
                                         "delete them in Lightroom Classic. Lightroom Classic must be closed.");
    text += entry("--capture-one CATALOG", "The same for a Capture One catalog: the copies are tagged Red.");
    text += entry("--mode MODE", "exact (the default), similar or series: byte-identical copies, other versions "
                                 "of one photo, or bursts.");
    text += entry("--preset PRESET", "How far look-alikes reach (below).");
    text += entry("--protect FOLDER", "Nothing in FOLDER is moved; it is still scanned. May be given again.");
    text += entry("--priorities LIST", "Which copy to keep: priority names separated by commas, the first that "
                                       "tells the copies apart decides (below).");
    text += entry("--interactive", "Walks the groups one by one: accept the suggestion, keep another copy, keep "
                                   "all, or stop; then the plan and the usual question.");
    text += entry("--yes", "Moves the plan's pictures without asking.");
    text += entry("--dry-run", "Stops after the plan; nothing moves.");
    text += entry("--json", "Prints one JSON document (the plan, or the cleanup's report). Needs --yes or "
                            "--dry-run: it never asks.");
    text += entry("--skipped", "Lists what the scan left out, one per line, on standard error.");
    text += entry("--no-cache", "Reads every file again instead of using the scan cache.");
    text += entry("--library [shotwell|PHOTO.DB]", "Scans a Shotwell library instead of folders (yours, or the "
                                                   "photo.db given) and adds the approved copies to its tag "
                                                   "\u201cVelmo Pristel Review\u201d; nothing is deleted. Shotwell "
                                                   "must be closed.");
    text += "Options take their value as --name VALUE or --name=VALUE; everything after -- is a folder.\n";
    text += "\nPresets:\n" + presets();
    text += "\nKeeper priorities (--priorities). Before them, copies that are locked, in a protected folder or\n"
            "tied to files beside them are always kept.\n" +
            priorities();
    text += "\nThe question \"Move ... to the Trash? [y/N]\" is asked on standard error; only y or yes moves.\n"
            "Ctrl-C while pictures move finishes the picture being moved and leaves the rest where they are.\n\n";
    return text + exitStatuses;
}

std::string history() {
    return "Usage: velmo-pristel history [--json]\n"
           "\n"
           "Lists earlier cleanups, newest first: the number put-back takes, when it started (local time,\n"
           "ISO 8601), how many pictures it moved, skipped, failed and put back, and its id. A cleanup that\n"
           "was interrupted and worked out afterwards says so, with the pictures to check by hand.\n"
           "Then the markings made in Lightroom Classic and Capture One catalogs, newest first, with the\n"
           "number `undo` takes and the backup each left beside its catalog.\n"
           "\n"
           "Options:\n" +
           entry("--json", "Prints one JSON list: every cleanup with every picture's outcome (\"kind\": "
                           "\"cleanup\"), then every marking (\"kind\": \"lightroom\" or \"captureOne\"); dates "
                           "in local time with their offset.") +
           "\n" + exitStatuses;
}

std::string undo() {
    return "Usage: velmo-pristel undo MARKING\n"
           "\n"
           "Takes back a marking made by clean --lightroom or clean --capture-one: the photos get the flag\n"
           "or colour tag they had before, except those changed in the catalog's own program since.\n"
           "MARKING is the number `history` shows in its list of markings (1 is the newest) or the first\n"
           "8 or more characters of its id. The program that owns the catalog must be closed.\n"
           "\n" +
           std::string(exitStatuses);
}

std::string putBack() {
    return "Usage: velmo-pristel put-back CLEANUP [PATH...]\n"
           "\n"
           "Puts back the pictures a cleanup moved to the Trash: all of them, or those named. CLEANUP is\n"
           "the number `history` shows (1 is the newest) or the first 8 or more characters of its id. A\n"
           "PATH may be typed as its bytes or as shown (escaped); one that is not a picture of that\n"
           "cleanup refuses the command. Nothing is ever written over: a picture whose place is taken\n"
           "stays in the Trash.\n"
           "\n" +
           std::string(exitStatuses);
}

} // namespace vp::Help
