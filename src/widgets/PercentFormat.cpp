#include "widgets/PercentFormat.h"

#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

#include <QHash>
#include <cmath>
#include <memory>

namespace tavrolin {

QString percentText(double fraction, const QLocale& locale) {
    // Formatters are costly to make and the same few locales come back on every redraw.
    static QHash<QString, std::shared_ptr<icu::NumberFormat>> formats;
    const QString name = locale.name();
    std::shared_ptr<icu::NumberFormat> format = formats.value(name);
    if (!format) {
        UErrorCode status = U_ZERO_ERROR;
        format.reset(icu::NumberFormat::createPercentInstance(
            icu::Locale(name.toStdString().c_str()), status));
        if (U_FAILURE(status) || !format) {
            return QString::number(std::lround(fraction * 100)) + u'%';
        }
        format->setMaximumFractionDigits(0);
        formats.insert(name, format);
    }
    icu::UnicodeString text;
    format->format(fraction, text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

}  // namespace tavrolin
