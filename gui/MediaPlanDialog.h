// The plan of a compression shown before anything happens: how many files and bytes, the
// estimated saving, each file, and the question. Nothing runs unless the person confirms.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QDialog>
#include <QStringList>

#include <vector>

namespace vp::gui {

struct MediaPlanText {
    QString question;     ///< the headline, a question
    QStringList lines;    ///< totals and what will happen
    QStringList headers;          ///< of the list of files
    std::vector<QStringList> files; ///< one row per file, a text per header
    int sizeColumns = 2;            ///< columns 1 to this one hold sizes, right-aligned
    QString confirm;      ///< the confirming button's text

    static MediaPlanText of(const PhotoCleanupHost& host, const CompressionPlan& plan);
    static MediaPlanText of(const PhotoCleanupHost& host, const CleanupPlan& livePhotos);
    static MediaPlanText of(const PhotoCleanupHost& host, const ImageCompressionPlan& plan, std::int64_t sampled);
};

class MediaPlanDialog : public QDialog {
    Q_OBJECT
public:
    MediaPlanDialog(const MediaPlanText& text, QWidget* parent = nullptr);
    /// The question and the lines under it, as shown.
    const QStringList& lines() const { return m_lines; }

private:
    QStringList m_lines;
};

} // namespace vp::gui
