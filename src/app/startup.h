// Steps of the start-up that stand on their own.
#ifndef ORVA_APP_STARTUP_H
#define ORVA_APP_STARTUP_H

#include <QString>

class QApplication;

namespace startup {

// The focus rule every style sheet ends with.
inline constexpr char kFocusRule[] = ":focus { border: 2px solid red; }";

// Applies the style sheet read from `resource` (missing or empty: none), then
// appends the red focus rule.
void apply_style_sheet(QApplication &app, const QString &resource);

// Loads the translation file and installs it only when it loaded.
bool install_translation(QApplication &app, const QString &resource);

// Meta-types used in variants, queued signals and data streams.
void register_meta_types();

} // namespace startup

#endif
