// Two or more pictures side by side, with their facts. Fit shows each whole; 1:1 shows actual
// pixels. Zoom (wheel, +/-) and pan (drag) move every picture together, so the same detail stays
// side by side.
#pragma once

#include "model/PhotoCleanupModel.h"

#include <QDialog>
#include <QImage>
#include <QPointF>

#include <string>
#include <vector>

class QLabel;

namespace vp::gui {

/// What every pane shows: fitted, or at a scale where 1 is one image pixel per screen pixel,
/// centred on the same relative point of each picture.
class ZoomState : public QObject {
    Q_OBJECT
public:
    bool fit = true;
    double scale = 1.0;
    QPointF centre{0.5, 0.5};

    void setFit();
    void setActualSize();
    void zoomBy(double factor, double currentScale);
    void panBy(QPointF relative);

Q_SIGNALS:
    void changed();
};

class ComparePane : public QWidget {
    Q_OBJECT
public:
    ComparePane(ZoomState& zoom, QWidget* parent = nullptr);
    void setImage(QImage image);
    const QImage& image() const { return m_image; }
    /// The scale the pane draws at now.
    double effectiveScale() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    ZoomState& m_zoom;
    QImage m_image;
    QPointF m_lastDrag;
    bool m_loading = true;
};

class CompareDialog : public QDialog {
    Q_OBJECT
public:
    CompareDialog(PhotoCleanupModel& model, const std::vector<std::string>& paths, QWidget* parent = nullptr);
    ~CompareDialog() override;

    ZoomState& zoom() { return m_zoom; }
    /// Waits until every picture is decoded (tests).
    void waitUntilLoaded();
    /// The facts shown under each picture.
    QStringList facts() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ZoomState m_zoom;
    std::vector<ComparePane*> m_panes;
    std::vector<QLabel*> m_facts;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    int m_pending = 0;
};

} // namespace vp::gui
