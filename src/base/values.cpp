#include "base/values.h"

#include <QStringList>
#include <cmath>

namespace velda {

std::optional<double> ParseNumberIn(const QString& text, double min, double max) {
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !(v >= min && v <= max)) return std::nullopt;
    return v;
}

std::optional<Length> ParseLength(const QString& text) {
    QString t = text.trimmed();
    const bool percent = t.endsWith(u'%');
    if (percent) t.chop(1);
    // A margin beyond any picture is a typing mistake, not a placement.
    const auto v = ParseNumberIn(t, percent ? -100 : -100000, percent ? 100 : 100000);
    if (!v) return std::nullopt;
    return Length{*v, percent};
}

std::optional<ResizeTarget> ParseResizeTarget(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t.isEmpty()) return ResizeTarget{};
    const qsizetype colon = t.indexOf(u':');
    if (colon < 0) return std::nullopt;
    static const QStringList kinds = {QStringLiteral("long"), QStringLiteral("short"),
                                      QStringLiteral("width"), QStringLiteral("height"),
                                      QStringLiteral("fit")};
    const qsizetype k = kinds.indexOf(t.left(colon));
    if (k < 0) return std::nullopt;
    ResizeTarget target;
    target.kind = static_cast<ResizeTarget::Kind>(k + 1);
    const QStringList numbers = t.mid(colon + 1).split(u'x');
    if (numbers.size() != (target.kind == ResizeTarget::Kind::Fit ? 2 : 1)) return std::nullopt;
    int v[2] = {0, 0};
    for (qsizetype i = 0; i < numbers.size(); ++i) {
        bool ok = false;
        v[i] = numbers[i].toInt(&ok);
        if (!ok || v[i] < 1 || v[i] > 65535) return std::nullopt;
    }
    target.width = v[0];
    target.height = target.kind == ResizeTarget::Kind::Fit ? v[1] : v[0];
    return target;
}

QString ResizeTargetText(const ResizeTarget& s) {
    switch (s.kind) {
        case ResizeTarget::Kind::Long:
            return QStringLiteral("long:%1").arg(s.width);
        case ResizeTarget::Kind::Short:
            return QStringLiteral("short:%1").arg(s.width);
        case ResizeTarget::Kind::Width:
            return QStringLiteral("width:%1").arg(s.width);
        case ResizeTarget::Kind::Height:
            return QStringLiteral("height:%1").arg(s.width);
        case ResizeTarget::Kind::Fit:
            return QStringLiteral("fit:%1x%2").arg(s.width).arg(s.height);
        default:
            return QString();
    }
}

std::optional<qint64> ParseByteSize(const QString& text) {
    QString t = text.trimmed();
    double unit = 1;
    if (t.endsWith(u'k', Qt::CaseInsensitive)) unit = 1e3;
    if (t.endsWith(u'M')) unit = 1e6;
    if (unit > 1) t.chop(1);
    const auto v = ParseNumberIn(t, 0, 1e12);
    if (!v) return std::nullopt;
    const double bytes = std::round(*v * unit);
    if (bytes < 1e3 || bytes > 1e9) return std::nullopt;
    return static_cast<qint64>(bytes);
}

QString ByteSizeText(qint64 bytes) {
    if (bytes % 1000000 == 0) return QString::number(bytes / 1000000) + u'M';
    if (bytes % 1000 == 0) return QString::number(bytes / 1000) + u'k';
    return QString::number(bytes);
}

}  // namespace velda
