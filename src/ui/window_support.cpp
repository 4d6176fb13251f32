#include "ui/window_support.h"

#include "imaging/formats.h"

namespace velda {

QString OpenFilters() {
    const QString all = PictureEndingPatterns().toUpper();
    QString filters = QStringLiteral("All Files (*.*)|*.*|All Pictures (%1)|%1|").arg(all);
    for (const FormatInfo* f : Formats()) {
        if (!f->readable()) continue;
        const QString patterns = PictureEndingPatterns(f->id).toUpper();
        filters += QStringLiteral("%1 (%2)|%2|").arg(QLatin1String(f->title), patterns);
    }
    return filters;
}

}  // namespace velda
