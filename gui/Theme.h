// The window's colours: the desktop's own light or dark choice by default, or a theme the
// person picks in the settings. Remembered in the window settings, apart from the model's.
#pragma once

#include <QString>
#include <QStringList>

class QApplication;

namespace vp::gui {

enum class Theme { system, light, dark, contrast };

QStringList themeNames(); // in the order of the enumeration
/// Whether the desktop asks for dark colours (GTK settings, GTK_THEME, or a dark platform palette).
bool desktopPrefersDark();
void applyTheme(Theme theme);
Theme storedTheme();
void storeTheme(Theme theme);

} // namespace vp::gui
