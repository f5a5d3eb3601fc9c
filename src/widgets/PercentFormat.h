#pragma once

#include <QLocale>
#include <QString>

namespace tavrolin {

// A fraction as a whole percentage in the locale's own pattern (0.42: "42%", "42 %", "%42").
QString percentText(double fraction, const QLocale& locale = QLocale());

}  // namespace tavrolin
