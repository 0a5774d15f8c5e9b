#include "CompareDialog.h"

#include "Texts.h"
#include "ThumbnailLoader.h"

#include "engine/common/Text.h"
#include "platform/image/Images.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <thread>

namespace vp::gui {

namespace {

// Past this, 1:1 would need more memory than a comparison is worth (8192 × 6144 pixels are
// 150 MB a picture); a larger picture is compared at this size.
constexpr int largestComparedSide = 8192;

} // namespace

// ---- Zoom shared by the panes

void ZoomState::setFit() {
    fit = true;
    centre = {0.5, 0.5};
    Q_EMIT changed();
}

void ZoomState::setActualSize() {
    fit = false;
    scale = 1.0;
    Q_EMIT changed();
}

void ZoomState::zoomBy(double factor, double currentScale) {
    fit = false;
    scale = std::clamp(currentScale * factor, 0.02, 16.0);
    Q_EMIT changed();
}

void ZoomState::panBy(QPointF relative) {
    if (fit) return;
    centre = QPointF(std::clamp(centre.x() + relative.x(), 0.0, 1.0), std::clamp(centre.y() + relative.y(), 0.0, 1.0));
    Q_EMIT changed();
}

// ---- One picture

ComparePane::ComparePane(ZoomState& zoom, QWidget* parent) : QWidget(parent), m_zoom(zoom) {
    setMinimumSize(240, 240);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setCursor(Qt::OpenHandCursor);
    connect(&m_zoom, &ZoomState::changed, this, qOverload<>(&QWidget::update));
}

void ComparePane::setImage(QImage image) {
    m_image = std::move(image);
    m_loading = false;
    update();
}

double ComparePane::effectiveScale() const {
    if (m_image.isNull()) return 1.0;
    if (!m_zoom.fit) return m_zoom.scale;
    return std::min(1.0 * width() / m_image.width(), 1.0 * height() / m_image.height());
}

void ComparePane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (m_image.isNull()) {
        painter.setPen(palette().color(QPalette::BrightText));
        painter.drawText(rect(), Qt::AlignCenter, m_loading ? "Loading…" : "This picture cannot be shown.");
        return;
    }
    const double scale = effectiveScale();
    const QSizeF drawn(m_image.width() * scale, m_image.height() * scale);
    const QPointF centre = m_zoom.fit ? QPointF(0.5, 0.5) : m_zoom.centre;
    const QPointF topLeft(width() / 2.0 - centre.x() * drawn.width(), height() / 2.0 - centre.y() * drawn.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
    painter.drawImage(QRectF(topLeft, drawn), m_image);
}

void ComparePane::mousePressEvent(QMouseEvent* event) { m_lastDrag = event->position(); }

void ComparePane::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || m_image.isNull()) return;
    if (m_zoom.fit) {
        m_zoom.scale = effectiveScale();
        m_zoom.fit = false;
    }
    const QPointF delta = event->position() - m_lastDrag;
    m_lastDrag = event->position();
    const double scale = effectiveScale();
    m_zoom.panBy(QPointF(-delta.x() / (m_image.width() * scale), -delta.y() / (m_image.height() * scale)));
}

void ComparePane::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0.0) m_zoom.zoomBy(std::pow(1.25, steps), effectiveScale());
}

// ---- The dialog

CompareDialog::CompareDialog(PhotoCleanupModel& model, const std::vector<std::string>& paths, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Compare");
    resize(1200, 760);
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    layout->addLayout(row, 1);
    const auto& session = model.session();
    for (const auto& path : paths) {
        const PhotoAsset* picture = session ? session->asset(path) : nullptr;
        auto* column = new QVBoxLayout;
        auto* pane = new ComparePane(m_zoom, this);
        auto* facts = new QLabel(this);
        facts->setWordWrap(true);
        facts->setTextInteractionFlags(Qt::TextSelectableByMouse);
        facts->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        column->addWidget(pane, 1);
        column->addWidget(facts);
        row->addLayout(column, 1);
        m_panes.push_back(pane);
        m_facts.push_back(facts);

        QStringList lines;
        lines << "<b>" + shown(lastPathComponent(path)).toHtmlEscaped() + "</b>";
        int longest = 4096;
        if (picture) {
            QString sizeLine = bytesText(picture->snapshot.size);
            if (picture->pixelWidth && picture->pixelHeight) {
                sizeLine += QString::fromUtf8(" · %1 × %2 pixels").arg(*picture->pixelWidth).arg(*picture->pixelHeight);
                longest = static_cast<int>(std::min<std::int64_t>(std::max(*picture->pixelWidth, *picture->pixelHeight),
                                                                  largestComparedSide));
            }
            lines << sizeLine;
            if (const auto score = model.qualityScores().find(path); score != model.qualityScores().end())
                lines << QString("Quality score %1").arg(score->second);
        }
        lines << (picture && picture->library ? shown(picture->folder())
                                              : shownPath(model.host(), deletingLastPathComponent(path)))
                     .toHtmlEscaped();
        facts->setText(lines.join("<br>"));

        // Decoding at full size takes a moment: off the GUI thread, delivered if still open.
        ++m_pending;
        std::weak_ptr<int> alive = m_alive;
        QThreadPool::globalInstance()->start([this, alive, path, longest, pane, facts, lines, previews = model.libraryPreviews()] {
            // A library picture is no file: the library hands over its preview.
            const auto preview = previews ? previews(path, longest) : std::nullopt;
            QImage image = preview ? imageOf(*preview) : decodeThumbnail(path, longest);
            QStringList more = lines;
            if (const auto properties = Images::properties(path)) {
                if (const auto& taken = properties.value().dateTimeOriginal) {
                    QString date = shown(*taken); // EXIF writes "2021:06:12 09:14:03"
                    if (date.size() >= 10 && date[4] == ':' && date[7] == ':') date[4] = date[7] = '-';
                    more.insert(2, "Taken " + date.left(16));
                }
                QString camera = shown(trimmed(properties.value().make.value_or("") + " " + properties.value().model.value_or("")));
                if (!camera.isEmpty()) more.insert(2, camera.toHtmlEscaped());
            }
            QMetaObject::invokeMethod(
                qApp,
                [this, alive, pane, facts, image = std::move(image), more] {
                    if (alive.expired()) return;
                    pane->setImage(image);
                    facts->setText(more.join("<br>"));
                    --m_pending;
                },
                Qt::QueuedConnection);
        });
    }
    auto* buttons = new QHBoxLayout;
    auto* fit = new QPushButton("Fit", this);
    auto* actual = new QPushButton("1:1", this);
    auto* zoomIn = new QPushButton("Zoom In", this);
    auto* zoomOut = new QPushButton("Zoom Out", this);
    auto* close = new QPushButton("Close", this);
    for (auto* button : {fit, actual, zoomIn, zoomOut}) buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(fit, &QPushButton::clicked, &m_zoom, &ZoomState::setFit);
    connect(actual, &QPushButton::clicked, &m_zoom, &ZoomState::setActualSize);
    connect(zoomIn, &QPushButton::clicked, this, [this] { m_zoom.zoomBy(1.25, m_panes.front()->effectiveScale()); });
    connect(zoomOut, &QPushButton::clicked, this, [this] { m_zoom.zoomBy(0.8, m_panes.front()->effectiveScale()); });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

CompareDialog::~CompareDialog() { m_alive.reset(); }

void CompareDialog::waitUntilLoaded() {
    while (m_pending > 0) {
        QThreadPool::globalInstance()->waitForDone(50);
        QCoreApplication::processEvents();
    }
}

QStringList CompareDialog::facts() const {
    QStringList texts;
    for (const auto* label : m_facts) texts << label->text();
    return texts;
}

void CompareDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_0:
    case Qt::Key_F: m_zoom.setFit(); return;
    case Qt::Key_1: m_zoom.setActualSize(); return;
    case Qt::Key_Plus:
    case Qt::Key_Equal: m_zoom.zoomBy(1.25, m_panes.front()->effectiveScale()); return;
    case Qt::Key_Minus: m_zoom.zoomBy(0.8, m_panes.front()->effectiveScale()); return;
    default: QDialog::keyPressEvent(event);
    }
}

} // namespace vp::gui
