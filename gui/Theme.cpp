#include "Theme.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

#include <array>
#include <iterator>

namespace vp::gui {

namespace {

// The roles a theme sets, in this order.
constexpr QPalette::ColorRole themedRoles[] = {
    QPalette::Window,      QPalette::WindowText, QPalette::Base,            QPalette::AlternateBase,
    QPalette::Text,        QPalette::PlaceholderText, QPalette::Button,     QPalette::ButtonText,
    QPalette::Mid,         QPalette::Dark,       QPalette::BrightText,      QPalette::Highlight,
    QPalette::HighlightedText, QPalette::Link,   QPalette::ToolTipBase,     QPalette::ToolTipText,
};
using Colours = std::array<QRgb, std::size(themedRoles)>;

constexpr Colours light{0xf4f4f2, 0x1d1d1f, 0xffffff, 0xeaeae8, 0x1d1d1f, 0x6e6e73, 0xfbfbfa, 0x1d1d1f,
                        0xd2d2d0, 0x3a3a3c, 0xffffff, 0x2563eb, 0xffffff, 0x1d4ed8, 0xffffe8, 0x000000};
constexpr Colours dark{0x242426, 0xe8e8ea, 0x2f2f32, 0x3a3a3d, 0xe8e8ea, 0xa0a0a6, 0x38383b, 0xe8e8ea,
                       0x4a4a4e, 0x161618, 0xffffff, 0x3b82f6, 0xffffff, 0x7db3ff, 0x3a3a3d, 0xe8e8ea};
constexpr Colours contrast{0x000000, 0xffffff, 0x000000, 0x202020, 0xffffff, 0xe0e0e0, 0x38383b, 0xffffff,
                           0xffffff, 0x161618, 0xffffff, 0xffd400, 0x000000, 0x66ccff, 0x3a3a3d, 0xe8e8ea};

QPalette paletteOf(const Colours& colours, QRgb disabledText) {
    QPalette palette;
    for (std::size_t role = 0; role < colours.size(); ++role) palette.setColor(themedRoles[role], QColor(colours[role]));
    for (const auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText})
        palette.setColor(QPalette::Disabled, role, QColor(disabledText));
    return palette;
}

QPalette lightPalette() { return paletteOf(light, 0xa0a0a4); }
QPalette darkPalette() { return paletteOf(dark, 0x808084); }
QPalette contrastPalette() { return paletteOf(contrast, 0x9a9a9a); }

QSettings windowSettings() {
    return QSettings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/velmo-pristel/window.ini",
                     QSettings::IniFormat);
}

} // namespace

QStringList themeNames() { return {"Follow the desktop", "Light", "Dark", "High contrast"}; }

bool desktopPrefersDark() {
    const QByteArray gtkTheme = qgetenv("GTK_THEME").toLower();
    if (gtkTheme.contains("dark")) return true;
    const QString gtkSettings =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/gtk-3.0/settings.ini";
    if (QFile::exists(gtkSettings)) {
        QSettings gtk(gtkSettings, QSettings::IniFormat);
        if (gtk.value("Settings/gtk-application-prefer-dark-theme").toString() == "1" ||
            gtk.value("Settings/gtk-application-prefer-dark-theme").toString() == "true" ||
            gtk.value("Settings/gtk-theme-name").toString().contains("dark", Qt::CaseInsensitive))
            return true;
    }
    // A platform theme (KDE's, say) hands Qt the desktop's palette itself.
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightness() < 110;
}

void applyTheme(Theme theme) {
    static const bool startedDark = desktopPrefersDark(); // before our own palette replaces the platform's
    qApp->setStyle(QStyleFactory::create("Fusion"));
    switch (theme) {
    case Theme::system: qApp->setPalette(startedDark ? darkPalette() : lightPalette()); break;
    case Theme::light: qApp->setPalette(lightPalette()); break;
    case Theme::dark: qApp->setPalette(darkPalette()); break;
    case Theme::contrast: qApp->setPalette(contrastPalette()); break;
    }
}

Theme storedTheme() {
    const int stored = windowSettings().value("theme", 0).toInt();
    return stored >= 0 && stored <= static_cast<int>(Theme::contrast) ? static_cast<Theme>(stored) : Theme::system;
}

void storeTheme(Theme theme) { windowSettings().setValue("theme", static_cast<int>(theme)); }

} // namespace vp::gui
