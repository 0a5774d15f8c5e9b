#include "Theme.h"

#include <QApplication>
#include <QFile>
#include <QPalette>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

namespace vp::gui {

namespace {

QPalette lightPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0xf4, 0xf4, 0xf2));
    palette.setColor(QPalette::WindowText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xea, 0xea, 0xe8));
    palette.setColor(QPalette::Text, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::PlaceholderText, QColor(0x6e, 0x6e, 0x73));
    palette.setColor(QPalette::Button, QColor(0xfb, 0xfb, 0xfa));
    palette.setColor(QPalette::ButtonText, QColor(0x1d, 0x1d, 0x1f));
    palette.setColor(QPalette::Mid, QColor(0xd2, 0xd2, 0xd0));
    palette.setColor(QPalette::Dark, QColor(0x3a, 0x3a, 0x3c));
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0x25, 0x63, 0xeb));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x1d, 0x4e, 0xd8));
    palette.setColor(QPalette::ToolTipBase, QColor(0xff, 0xff, 0xe8));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    return palette;
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x24, 0x24, 0x26));
    palette.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::Base, QColor(0x2f, 0x2f, 0x32));
    palette.setColor(QPalette::AlternateBase, QColor(0x3a, 0x3a, 0x3d));
    palette.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::PlaceholderText, QColor(0xa0, 0xa0, 0xa6));
    palette.setColor(QPalette::Button, QColor(0x38, 0x38, 0x3b));
    palette.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::Mid, QColor(0x4a, 0x4a, 0x4e));
    palette.setColor(QPalette::Dark, QColor(0x16, 0x16, 0x18));
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0x3b, 0x82, 0xf6));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x7d, 0xb3, 0xff));
    palette.setColor(QPalette::ToolTipBase, QColor(0x3a, 0x3a, 0x3d));
    palette.setColor(QPalette::ToolTipText, QColor(0xe8, 0xe8, 0xea));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x80, 0x84));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x80, 0x84));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x84));
    return palette;
}

QPalette contrastPalette() {
    QPalette palette = darkPalette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::AlternateBase, QColor(0x20, 0x20, 0x20));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(0xe0, 0xe0, 0xe0));
    palette.setColor(QPalette::Mid, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0xff, 0xd4, 0x00));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    palette.setColor(QPalette::Link, QColor(0x66, 0xcc, 0xff));
    return palette;
}

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
