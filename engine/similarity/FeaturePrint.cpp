// The feature print: the strongest corners of the rendition with their ORB descriptors, so that
// two pictures can be matched point by point and the match checked for one consistent
// placement. Corners survive cropping, resizing, re-saving and turning, and two shots of one
// subject share far fewer of them in one placement than two versions of one photo do.
//
// Stored as FeaturePrintFormat.h lays out. This file is the only one that sees OpenCV's types.
#include "FeatureExtractor.h"
#include "FeaturePrintFormat.h"

#include <opencv2/calib3d.hpp>
#include <opencv2/features2d.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace vp::FeatureExtractor {
namespace {

using namespace PrintFormat;

cv::Mat greyMat(const Bitmap& image) {
    const cv::Mat pixels(image.height, image.width, image.channels == 3 ? CV_8UC3 : CV_8UC1,
                         const_cast<std::uint8_t*>(image.pixels.data()));
    if (image.channels == 1) return pixels.clone();
    cv::Mat grey;
    cv::cvtColor(pixels, grey, cv::COLOR_RGB2GRAY);
    return grey;
}

int hamming(const FeaturePrintObservation::Descriptor& a, const FeaturePrintObservation::Descriptor& b) {
    return std::popcount(a[0] ^ b[0]) + std::popcount(a[1] ^ b[1]) + std::popcount(a[2] ^ b[2]) +
           std::popcount(a[3] ^ b[3]);
}

struct Nearest {
    int index = -1;
    int best = 257;
    int second = 257;
};

Nearest nearest(const FeaturePrintObservation::Descriptor& d, const FeaturePrintObservation& in) {
    Nearest found;
    for (std::size_t j = 0; j < in.descriptors.size(); ++j) {
        const int distance = hamming(d, in.descriptors[j]);
        if (distance < found.best) {
            found.second = found.best;
            found.best = distance;
            found.index = static_cast<int>(j);
        } else if (distance < found.second) {
            found.second = distance;
        }
    }
    return found;
}

bool inside(const cv::Point2f& p, int width, int height) {
    return p.x >= 0 && p.y >= 0 && p.x < static_cast<float>(width) && p.y < static_cast<float>(height);
}

/// The share of the overlap whose look differs once b's glance is placed on a's. Each glance is
/// evened out to zero mean and unit spread over the overlap (so brightness, contrast and mild
/// colour edits do not count), both are softened (so re-saving, sharpening and the placement's
/// last pixel of error do not), and a pixel counts as changed when the two differ by more than
/// their spread. Thin strokes such as a watermark's letters are opened away: what remains is
/// something drawn over the photo, or part of the scene that moved.
std::optional<double> changedShare(const FeaturePrintObservation& a, const FeaturePrintObservation& b,
                                   const cv::Mat& placement) {
    if (a.glance.empty() || b.glance.empty()) return std::nullopt;
    const cv::Mat glanceA(a.glanceHeight, a.glanceWidth, CV_8UC1, const_cast<std::uint8_t*>(a.glance.data()));
    const cv::Mat glanceB(b.glanceHeight, b.glanceWidth, CV_8UC1, const_cast<std::uint8_t*>(b.glance.data()));
    // The placement maps b's rendition to a's; the glances are those renditions made smaller.
    const double toA = static_cast<double>(std::max(a.glanceWidth, a.glanceHeight)) / std::max(a.width, a.height);
    const double fromB = static_cast<double>(std::max(b.width, b.height)) / std::max(b.glanceWidth, b.glanceHeight);
    cv::Mat onA = placement * fromB * toA;
    onA.col(2) = placement.col(2) * toA;
    cv::Mat placed, covered;
    cv::warpAffine(glanceB, placed, onA, glanceA.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    cv::warpAffine(cv::Mat(glanceB.size(), CV_8UC1, cv::Scalar(255)), covered, onA, glanceA.size(), cv::INTER_NEAREST,
                   cv::BORDER_CONSTANT, 0);
    cv::erode(covered, covered, cv::Mat(), cv::Point(-1, -1), 2);
    const int overlap = cv::countNonZero(covered);
    if (overlap < glanceA.rows * glanceA.cols / 4) return std::nullopt;

    cv::Mat x, y;
    cv::GaussianBlur(glanceA, x, cv::Size(3, 3), 0.8);
    cv::GaussianBlur(placed, y, cv::Size(3, 3), 0.8);
    x.convertTo(x, CV_32F);
    y.convertTo(y, CV_32F);
    cv::Scalar meanX, spreadX, meanY, spreadY;
    cv::meanStdDev(x, meanX, spreadX, covered);
    cv::meanStdDev(y, meanY, spreadY, covered);
    // A flat picture has no look to compare.
    if (spreadX[0] < 4 || spreadY[0] < 4) return std::nullopt;
    cv::Mat difference = cv::abs((x - meanX[0]) / spreadX[0] - (y - meanY[0]) / spreadY[0]);
    cv::Mat changed = (difference > changedSpread) & covered;
    cv::morphologyEx(changed, changed, cv::MORPH_OPEN, cv::Mat());
    return static_cast<double>(cv::countNonZero(changed)) / overlap;
}

} // namespace

std::optional<FeaturePrint> featurePrint(const Bitmap& image) {
    if (image.width < 16 || image.height < 16 || image.width > 65535 || image.height > 65535 ||
        (image.channels != 1 && image.channels != 3) ||
        image.pixels.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) *
                                  static_cast<std::size_t>(image.channels))
        return std::nullopt;

    std::vector<cv::KeyPoint> corners;
    cv::Mat descriptors;
    cv::Size searched(image.width, image.height);
    cv::Mat glance;
    try {
        // A low corner threshold keeps smooth pictures (skies, gradients, artwork) from being
        // left with a handful of corners; the count bound keeps the strongest.
        const auto orb = cv::ORB::create(printCorners, 1.2f, 8, 15, 0, 2, cv::ORB::HARRIS_SCORE, 15, 8);
        // A small picture is enlarged to the size the renditions of larger ones have, so that
        // its corners are found at the scales where a larger version's corners are.
        cv::Mat grey = greyMat(image);
        const int longest = std::max(image.width, image.height);
        const double shrink = std::min(1.0, static_cast<double>(glanceSide) / longest);
        cv::resize(grey, glance,
                   cv::Size(std::max(1, static_cast<int>(std::lround(image.width * shrink))),
                            std::max(1, static_cast<int>(std::lround(image.height * shrink)))),
                   0, 0, cv::INTER_AREA);
        if (longest < printSide) {
            const double enlarge = static_cast<double>(printSide) / longest;
            cv::resize(grey, grey, cv::Size(), enlarge, enlarge, cv::INTER_LINEAR);
        }
        searched = grey.size();
        orb->detectAndCompute(grey, cv::noArray(), corners, descriptors);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
    // Strongest first, so that a reader wanting only the best few takes the first ones.
    std::vector<int> order(corners.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
        return corners[static_cast<std::size_t>(x)].response > corners[static_cast<std::size_t>(y)].response;
    });
    FeaturePrint print{{'V', 'P', 'F', static_cast<std::uint8_t>(featurePrintRevision)}, featurePrintRevision};
    putWord(print.bytes, static_cast<unsigned>(searched.width));
    putWord(print.bytes, static_cast<unsigned>(searched.height));
    const std::size_t count = descriptors.rows == static_cast<int>(corners.size()) ? corners.size() : 0;
    putWord(print.bytes, static_cast<unsigned>(count));
    for (std::size_t k = 0; k < count; ++k) {
        const auto i = static_cast<std::size_t>(order[k]);
        const auto at = [](float v) { return static_cast<unsigned>(std::clamp(std::lround(v * positionScale), 0L, 65535L)); };
        putWord(print.bytes, at(corners[i].pt.x));
        putWord(print.bytes, at(corners[i].pt.y));
        const auto* row = descriptors.ptr<std::uint8_t>(static_cast<int>(i));
        print.bytes.insert(print.bytes.end(), row, row + 32);
    }
    putWord(print.bytes, static_cast<unsigned>(glance.cols));
    putWord(print.bytes, static_cast<unsigned>(glance.rows));
    for (int y = 0; y < glance.rows; ++y)
        print.bytes.insert(print.bytes.end(), glance.ptr<std::uint8_t>(y), glance.ptr<std::uint8_t>(y) + glance.cols);
    return print;
}

static PrintMatch matchOneWay(const FeaturePrintObservation& a, const FeaturePrintObservation& b) {
    PrintMatch match;
    if (a.descriptors.empty() || b.descriptors.empty()) return match;
    // Mutual nearest neighbours that are clearly nearer than the next best (Lowe's ratio test):
    // repeated patterns, where every corner looks like many others, give none.
    std::vector<cv::Point2f> fromA, fromB;
    for (std::size_t i = 0; i < a.descriptors.size(); ++i) {
        const Nearest forward = nearest(a.descriptors[i], b);
        if (forward.index < 0 || forward.best > maximumDescriptorDistance ||
            forward.best * 10 > forward.second * 7)
            continue;
        if (nearest(b.descriptors[static_cast<std::size_t>(forward.index)], a).index != static_cast<int>(i)) continue;
        fromA.emplace_back(a.points[i][0], a.points[i][1]);
        const auto& p = b.points[static_cast<std::size_t>(forward.index)];
        fromB.emplace_back(p[0], p[1]);
    }
    match.matches = static_cast<int>(fromA.size());
    if (fromA.size() < 6) return match;

    cv::Mat inliers;
    cv::Mat placement;
    try {
        // Rotation, uniform scale and shift: what resizing, cropping and turning do to a photo.
        placement = cv::estimateAffinePartial2D(fromB, fromA, inliers, cv::RANSAC, placementTolerance, 2000, 0.995, 10);
    } catch (const cv::Exception&) {
        return match;
    }
    if (placement.empty()) return match;
    const double c = placement.at<double>(0, 0), s = placement.at<double>(1, 0);
    match.scale = std::hypot(c, s);
    const double degrees = std::atan2(s, c) * 180 / std::numbers::pi;
    const double quarters = std::round(degrees / 90);
    match.angleError = std::abs(degrees - quarters * 90);
    match.turn = static_cast<int>((static_cast<long>(quarters) % 4 + 4) % 4);
    match.inliers = cv::countNonZero(inliers);

    // The corners of each picture that the placement puts inside the other: what could have
    // matched had the two been one photo.
    cv::Mat inverse;
    cv::invertAffineTransform(placement, inverse);
    const auto place = [](const cv::Mat& m, float x, float y) {
        return cv::Point2f(static_cast<float>(m.at<double>(0, 0) * x + m.at<double>(0, 1) * y + m.at<double>(0, 2)),
                           static_cast<float>(m.at<double>(1, 0) * x + m.at<double>(1, 1) * y + m.at<double>(1, 2)));
    };
    int overlapA = 0, overlapB = 0;
    for (const auto& p : a.points) overlapA += inside(place(inverse, p[0], p[1]), b.width, b.height) ? 1 : 0;
    for (const auto& p : b.points) overlapB += inside(place(placement, p[0], p[1]), a.width, a.height) ? 1 : 0;
    double squares = 0;
    for (std::size_t k = 0; k < fromB.size(); ++k)
        if (inliers.at<std::uint8_t>(static_cast<int>(k))) {
            const cv::Point2f d = place(placement, fromB[k].x, fromB[k].y) - fromA[k];
            squares += d.dot(d);
        }
    match.residual = match.inliers > 0 ? std::sqrt(squares / match.inliers) : 0;

    // Pairs the placement leaves out are chance matches for two versions of one photo, and
    // scatter. When many of them agree on a placement of their own, part of the scene moved, or
    // the two were taken from different places: two shots, not two versions.
    std::vector<cv::Point2f> restA, restB;
    for (std::size_t k = 0; k < fromB.size(); ++k)
        if (!inliers.at<std::uint8_t>(static_cast<int>(k))) {
            restA.push_back(fromA[k]);
            restB.push_back(fromB[k]);
        }
    if (restA.size() >= 4) {
        cv::Mat restInliers;
        try {
            const cv::Mat second =
                cv::estimateAffinePartial2D(restB, restA, restInliers, cv::RANSAC, placementTolerance, 2000, 0.995, 0);
            if (!second.empty()) {
                match.secondInliers = cv::countNonZero(restInliers);
                // How far apart the two placements put the corners the second one explains.
                std::vector<float> shifts;
                for (std::size_t k = 0; k < restB.size(); ++k)
                    if (restInliers.at<std::uint8_t>(static_cast<int>(k)))
                        shifts.push_back(static_cast<float>(cv::norm(place(placement, restB[k].x, restB[k].y) -
                                                                     place(second, restB[k].x, restB[k].y))));
                if (!shifts.empty()) {
                    std::nth_element(shifts.begin(), shifts.begin() + static_cast<std::ptrdiff_t>(shifts.size() / 2), shifts.end());
                    match.secondShift = shifts[shifts.size() / 2];
                }
            }
        } catch (const cv::Exception&) {
        }
    }
    match.overlapCorners = std::min(overlapA, overlapB);
    match.changed = changedShare(a, b, placement);
    return match;
}

PrintMatch matchPrints(const FeaturePrintObservation& a, const FeaturePrintObservation& b) {
    // The ratio test looks for each corner of the first picture among the second's. The larger
    // of a photo and its crop holds more look-alikes of each corner, so looked for the other way
    // round, fewer pass: when that leaves the verdict open, the other way decides.
    const PrintMatch forward = matchOneWay(a, b);
    if (verdict(forward) != PrintVerdict::undecided) return forward;
    PrintMatch backward = matchOneWay(b, a);
    if (verdict(backward) == PrintVerdict::undecided) return forward;
    backward.turn = (4 - backward.turn) % 4;
    backward.scale = backward.scale > 0 ? 1 / backward.scale : 0;
    return backward;
}

std::optional<float> featureDistance(const FeaturePrintObservation& a, const FeaturePrintObservation& b) {
    if (a.descriptors.size() != a.points.size() || b.descriptors.size() != b.points.size()) return std::nullopt;
    return printDistance(matchPrints(a, b));
}

float printDistance(const PrintMatch& match) {
    if (match.inliers < minimumInliers || match.matches < 1) return 1.0f;
    return 1.0f - static_cast<float>(match.inliers) / static_cast<float>(match.matches);
}

PrintVerdict verdict(const PrintMatch& match) {
    const double share = match.matches > 0 ? static_cast<double>(match.inliers) / match.matches : 0;
    // Once placed, a version shows what the photo showed, but for a caption or a watermark drawn
    // over a little of it. A larger part that looks different is part of the scene that moved.
    const bool sceneChanged = match.changed && *match.changed > changedScene;
    const bool looksAlike = match.changed && *match.changed <= alikeChange;
    // Chance pairs among the left-out ones scatter; a few line up with some placement by luck.
    // A second placement that lies within the tolerance of the first is the first one again,
    // seen through imprecise corners (a small or blurred version). One far from the first while
    // the placed pictures look alike is a repeated pattern (tiles, stripes, fabric) paired with
    // its neighbour; two cameras' views differ by a nearby placement, the depth between them.
    const bool secondMotion = match.secondInliers >= std::max(secondMotionInliers, match.matches / 10 + 1) &&
                              match.secondShift > placementTolerance &&
                              (match.secondShift <= depthShift || !looksAlike);
    const bool placed = match.inliers >= minimumInliers;
    if (placed && sceneChanged) return PrintVerdict::differentShots;
    if (placed && share >= sameShare && !secondMotion) return PrintVerdict::samePhoto;
    // Fine texture (sand, foliage, fabric) pairs many corners by chance. When those do not agree
    // on a placement of their own and the placed pictures look alike everywhere, a lower share
    // is still one photo.
    if (placed && share >= scatteredShare && !secondMotion && looksAlike) return PrintVerdict::samePhoto;
    if (match.matches >= minimumMatchesToPart && share < sameShare && secondMotion) return PrintVerdict::differentShots;
    return PrintVerdict::undecided;
}

} // namespace vp::FeatureExtractor
