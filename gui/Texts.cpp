#include "Texts.h"

#include "engine/common/Text.h"

#include <QFile>
#include <QWidget>
#include <array>

namespace vp::gui {

void emphasise(QWidget& widget, double pointsLarger, bool bold) {
    QFont font = widget.font();
    font.setBold(bold);
    if (pointsLarger > 0) font.setPointSizeF(font.pointSizeF() + pointsLarger);
    widget.setFont(font);
}

QString shown(std::string_view text) {
    if (isValidUtf8(text)) return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    const std::string escaped = displayable(text);
    return QString::fromUtf8(escaped.data(), static_cast<qsizetype>(escaped.size()));
}

QString shownPath(const PhotoCleanupHost& host, const std::string& path) { return shown(host.abbreviate(path)); }

std::string pathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

QString qtPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

QString bytesText(std::int64_t bytes) {
    if (bytes < 1000) return QString::number(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr std::array units{"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1000.0;
    std::size_t unit = 0;
    while (value >= 1000.0 && unit + 1 < units.size()) {
        value /= 1000.0;
        ++unit;
    }
    return QString::number(value, 'f', value < 10 ? 1 : 0) + " " + units[unit];
}

QString countText(std::int64_t count, const char* one, const char* many) {
    return QString::number(count) + " " + (count == 1 ? one : many);
}

} // namespace vp::gui
