#include "imaging/text.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "imaging/picbuf.h"

namespace velda {

namespace {

// Text taller than this is not a watermark line but a mistake; drawing it
// would only burn time.
constexpr int kMaxTextPixels = 8192;

QFont MakeFont(const TextRun& run, int lineHeight) {
    QFont font(run.fontName.isEmpty() ? QStringLiteral("Arial") : run.fontName);
    font.setBold(run.bold);
    font.setItalic(run.italic);
    font.setUnderline(run.underline);
    font.setStrikeOut(run.strikeOut);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setPixelSize(lineHeight);
    // Scale the em size so that ascent + descent, the line height, is the
    // size asked for.
    const qreal h = QFontMetricsF(font).height();
    if (h > 0) {
        const int px = static_cast<int>(std::lround(lineHeight * lineHeight / h));
        font.setPixelSize(std::max(1, px));
    }
    return font;
}

}  // namespace

Status DrawTextRun(QImage& image, const TextRun& run) {
    if (image.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (run.text.trimmed().isEmpty()) return Status::Ok();
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    if (lineHeight <= 0) return Status::Ok();
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32) {
        return Status::Error(ErrorCode::BadArgument,
                             QStringLiteral("true-colour picture expected"));
    }
    const QFont font = MakeFont(run, lineHeight);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setFont(font);
    painter.setPen(QColor::fromRgb(run.colour));
    const QFontMetricsF fm(font);
    if (!run.transparent) {
        painter.fillRect(
            QRectF(run.rect.left(), run.rect.top(), fm.horizontalAdvance(run.text), lineHeight),
            Qt::white);
    }
    painter.drawText(QPointF(run.rect.left(), run.rect.top() + fm.ascent()), run.text);
    return Status::Ok();
}

std::optional<QRgb> ParseWindowsColour(const QString& text) {
    QString digits = text.trimmed();
    if (digits.startsWith(QStringLiteral("&H"), Qt::CaseInsensitive)) digits = digits.mid(2);
    if (digits.isEmpty() || digits.size() > 6) return std::nullopt;
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (!ok) return std::nullopt;
    return qRgb(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

QRgb ParseForeColor(const QString& foreColor) {
    return ParseWindowsColour(foreColor).value_or(qRgb(255, 255, 255));
}

TextRun TextWatermarkRun(const QString& text, int x, int y, int size, int width, int height,
                         const TextStyle& style) {
    TextRun run;
    run.text = text;
    run.rect = style.pixels ? QRect(x, y, 10000, size)
                            : QRect((width / 100) * x, (height / 100) * y, 10000, size);
    run.colour = ParseForeColor(QStringLiteral("&H") + style.colour);
    run.fontName = style.font.trimmed().isEmpty() ? QStringLiteral("Arial") : style.font.trimmed();
    run.bold = true;
    run.italic = run.underline = run.strikeOut = false;
    run.transparent = true;
    return run;
}

QRect TextRunBounds(const TextRun& run) {
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    if (run.text.trimmed().isEmpty() || lineHeight <= 0) return QRect();
    const QFont font = MakeFont(run, lineHeight);
    const QFontMetricsF fm(font);
    QRectF box =
        fm.boundingRect(run.text).translated(run.rect.left(), run.rect.top() + fm.ascent());
    box |= QRectF(run.rect.left(), run.rect.top(), fm.horizontalAdvance(run.text), lineHeight);
    // Antialiasing, underline and glyphs that overhang their metrics.
    const qreal margin = 2 + lineHeight / 8.0;
    return box.adjusted(-margin, -margin, margin, margin).toAlignedRect();
}

void DrawTextWatermark(Picbuf& target, const QString& text, int x, int y, int size, int width,
                       int height, const TextStyle& style) {
    if (text.trimmed().isEmpty()) return;
    const TextRun run = TextWatermarkRun(text, x, y, size, width, height, style);
    target.SelectLeft = run.rect.left();
    target.SelectTop = run.rect.top();
    target.SelectWidth = run.rect.width();
    target.SelectHeight = run.rect.height();
    target.TextAutoSize = true;
    target.TextExtLeading = 0;
    target.TextMultiLine = 1;
    target.ForeColor = QStringLiteral("&H") + style.colour;
    target.Font.Bold = run.bold;
    target.Font.Italic = run.italic;
    target.Font.Name = run.fontName;
    target.Font.StrikeThrough = run.strikeOut;
    target.Font.Underline = run.underline;
    target.FontTransparent = run.transparent;
    target.Text = text;
    target.TextDraw();  // a failure leaves the picture as it was
}

QStringList FillFontList() {
    QStringList families = QFontDatabase::families();
    qsizetype n = families.size();
    if (n > 300) n = 200;
    QStringList list;
    for (qsizetype i = 0; i < n; ++i) {
        const QString& name = families[i];
        if (name == u"Courier") continue;
        // A name the system only fills in with Courier is no font of its own.
        if (QFontInfo(QFont(name)).family() == u"Courier") continue;
        list.append(name);
    }
    return list;
}

}  // namespace velda
