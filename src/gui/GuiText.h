#pragma once
// The system's texts are Windows-1251; Qt wants Unicode. Conversions happen here, for display.
#include <QString>
#include <string>

#include "platform/CodePage.h"

namespace vg::gui {

inline QString FromCp1251(const std::string& text) { return QString::fromStdString(platform::Cp1251ToUtf8(text)); }

inline std::string ToCp1251(const QString& text) { return platform::Utf8ToCp1251(text.toStdString()); }

// Gives a new widget the object name tests and style sheets find it by.
template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

}  // namespace vg::gui
