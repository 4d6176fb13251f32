#include "imaging/text.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
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

// True when some character is written right to left: such a line is laid
// out from its logical end, so its start is not what shows at the left.
bool HasRightToLeft(const QString& text) {
    for (const QChar c : text) {
        const QChar::Direction d = c.direction();
        if (d == QChar::DirR || d == QChar::DirAL || d == QChar::DirRLE || d == QChar::DirRLO ||
            d == QChar::DirRLI)
            return true;
    }
    return false;
}

// The line with everything that cannot reach within room pixels of its left
// edge cut off. A glyph reaches at most about a line height past its
// advance (outline included), so the cut leaves that much and more; a
// line that fits is returned as it is, so its pixels never change.
QString CutToRoom(const QString& text, const QFont& font, qreal room, int reach) {
    // A glyph may reach a little left of where it starts, too.
    if (room + reach <= 0) return QString();
    const qreal limit = room + 2 * reach;
    // A right-to-left line shows its end first: only what could never show
    // by count goes (every visible character takes a pixel or more).
    if (HasRightToLeft(text)) {
        const qsizetype most = static_cast<qsizetype>(limit) + 64;
        return text.size() <= most ? text : text.left(most);
    }
    const QFontMetricsF fm(font);
    constexpr qsizetype kChunk = 32;
    qreal advance = 0;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype end = std::min(text.size(), at + kChunk);
        if (end < text.size() && text[end].isLowSurrogate()) ++end;  // never half a character
        advance += fm.horizontalAdvance(text.mid(at, end - at));
        at = end;
        if (advance > limit) return text.left(at);
    }
    return text;
}

// How far the shadow falls and how soft it is, for a line height.
int ShadowOffset(int lineHeight) {
    return std::max(1, lineHeight / 16);
}
int ShadowBlur(int lineHeight) {
    return std::max(1, lineHeight / 24);
}

// Box blur of an alpha picture, along rows then columns.
void BoxBlur(QImage& image, int radius) {
    const int w = image.width(), h = image.height();
    std::vector<int> line(static_cast<size_t>(std::max(w, h)));
    auto pass = [&](int count, int length, auto at) {
        for (int i = 0; i < count; ++i) {
            for (int k = 0; k < length; ++k)
                line[static_cast<size_t>(k)] = *at(i, k);
            int sum = 0;
            for (int k = -radius; k <= radius; ++k)
                sum += line[static_cast<size_t>(std::clamp(k, 0, length - 1))];
            for (int k = 0; k < length; ++k) {
                *at(i, k) = static_cast<uchar>(sum / (2 * radius + 1));
                sum += line[static_cast<size_t>(std::min(k + radius + 1, length - 1))] -
                       line[static_cast<size_t>(std::max(k - radius, 0))];
            }
        }
    };
    pass(h, w, [&](int y, int x) { return image.scanLine(y) + x; });
    pass(w, h, [&](int x, int y) { return image.scanLine(y) + x; });
}

// The shadow's working picture: the text's bounds widened by the blur, but
// never more than the blur and fall can carry onto the picture from beyond
// its edges (two blur passes and the offset), so that the pixels it leaves
// are those of the whole box.
QRect ShadowBox(const QRect& bounds, int lineHeight, const QRect& picture) {
    const int blur = ShadowBlur(lineHeight), offset = ShadowOffset(lineHeight);
    const int reach = 2 * blur + offset + 2;
    return bounds.adjusted(-blur, -blur, blur, blur) &
           picture.adjusted(-reach, -reach, reach, reach);
}

void DrawShadow(QPainter& painter, const TextRun& run, const QFont& font, const QPointF& baseline,
                const QRect& bounds, const QRect& picture) {
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    const int blur = ShadowBlur(lineHeight), offset = ShadowOffset(lineHeight);
    const QRect box = ShadowBox(bounds, lineHeight, picture);
    if (box.isEmpty()) return;
    QImage alpha(box.size(), QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter p(&alpha);
        p.setRenderHint(QPainter::Antialiasing, true);
        QPainterPath path;
        path.addText(baseline - QPointF(box.topLeft()), font, run.text);
        if (run.outline > 0)
            p.strokePath(path, QPen(Qt::black, 2.0 * run.outline, Qt::SolidLine, Qt::RoundCap,
                                    Qt::RoundJoin));
        p.fillPath(path, Qt::black);
    }
    for (int i = 0; i < 2; ++i)
        BoxBlur(alpha, blur);
    QImage shade(box.size(), QImage::Format_ARGB32_Premultiplied);
    shade.fill(Qt::transparent);
    for (int y = 0; y < box.height(); ++y) {
        const uchar* a = alpha.constScanLine(y);
        QRgb* s = reinterpret_cast<QRgb*>(shade.scanLine(y));
        for (int x = 0; x < box.width(); ++x)
            s[x] = qRgba(0, 0, 0, a[x] * 3 / 5);  // black, at 60 %
    }
    painter.drawImage(box.topLeft() + QPoint(offset, offset), shade);
}

}  // namespace

QRgb ContrastingTone(QRgb colour) {
    return qGray(colour) >= 128 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
}

QString OneLineText(const QString& text) {
    QString line = text;
    for (QChar& c : line) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            c = u' ';
    }
    return line;
}

TextRun FitRunTo(TextRun run, qreal room) {
    run.text = OneLineText(run.text);
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    if (lineHeight > 0 && !run.text.isEmpty())
        run.text = CutToRoom(run.text, MakeFont(run, lineHeight), room,
                             lineHeight + std::max(run.outline, 0));
    return run;
}

qint64 TextWorkingBytes(const TextRun& run, QSize picture) {
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    if (!run.shadow || lineHeight <= 0) return 0;
    const QRect box = ShadowBox(TextRunBounds(run), lineHeight, QRect(QPoint(0, 0), picture));
    return box.isEmpty() ? 0 : static_cast<qint64>(box.width()) * box.height() * 5;
}

Status DrawTextRun(QImage& image, const TextRun& given) {
    if (image.isNull()) return Status::Error(ErrorCode::NoPicture);
    if (given.text.trimmed().isEmpty()) return Status::Ok();
    const int lineHeight = std::min(given.rect.height(), kMaxTextPixels);
    if (lineHeight <= 0) return Status::Ok();
    // Only what can reach this picture is laid out and drawn.
    const TextRun run = FitRunTo(given, image.width() - given.rect.left());
    if (run.text.isEmpty()) return Status::Ok();
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
    const QPointF baseline(run.rect.left(), run.rect.top() + fm.ascent());
    if (run.shadow) DrawShadow(painter, run, font, baseline, TextRunBounds(run), image.rect());
    if (run.outline > 0) {
        QPainterPath path;
        path.addText(baseline, font, run.text);
        painter.strokePath(path,
                           QPen(QColor::fromRgb(ContrastingTone(run.colour)), 2.0 * run.outline,
                                Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    if (run.asOutlines) {
        QPainterPath path;
        path.addText(baseline, font, run.text);
        painter.fillPath(path, QColor::fromRgb(run.colour));
    } else {
        painter.drawText(baseline, run.text);
    }
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

QString WindowsColourText(QRgb colour) {
    return QStringLiteral("%1%2%3")
        .arg(qBlue(colour), 2, 16, QLatin1Char('0'))
        .arg(qGreen(colour), 2, 16, QLatin1Char('0'))
        .arg(qRed(colour), 2, 16, QLatin1Char('0'))
        .toUpper();
}

QRgb ParseForeColor(const QString& foreColor) {
    return ParseWindowsColour(foreColor).value_or(qRgb(255, 255, 255));
}

TextRun TextWatermarkRun(const QString& text, int x, int y, int size, int width, int height,
                         const TextStyle& style) {
    TextRun run;
    run.text = OneLineText(text);
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
    const qreal margin = 2 + lineHeight / 8.0 + std::max(run.outline, 0);
    box.adjust(-margin, -margin, margin, margin);
    if (run.shadow) {
        const int reach = ShadowOffset(lineHeight) + 2 * ShadowBlur(lineHeight) + 1;
        box.adjust(0, 0, reach, reach);
    }
    return box.toAlignedRect();
}

QSize TextRunSize(const TextRun& run) {
    const int lineHeight = std::min(run.rect.height(), kMaxTextPixels);
    if (run.text.trimmed().isEmpty() || lineHeight <= 0) return QSize();
    const QFontMetricsF fm(MakeFont(run, lineHeight));
    return {static_cast<int>(std::ceil(fm.horizontalAdvance(run.text))), lineHeight};
}

void DrawTextWatermark(Picbuf& target, const QString& text, int x, int y, int size, int width,
                       int height, const TextStyle& style) {
    if (text.trimmed().isEmpty()) return;
    const TextRun run = TextWatermarkRun(text, x, y, size, width, height, style);
    target.SelectLeft = run.rect.left();
    target.SelectTop = run.rect.top();
    target.SelectWidth = run.rect.width();
    target.SelectHeight = run.rect.height();
    target.ForeColor = QStringLiteral("&H") + style.colour;
    target.Font.Bold = run.bold;
    target.Font.Italic = run.italic;
    target.Font.Name = run.fontName;
    target.Font.StrikeThrough = run.strikeOut;
    target.Font.Underline = run.underline;
    target.FontTransparent = run.transparent;
    target.Text = text;
    // The routine reports nothing: a text that cannot be drawn (a picture
    // of no kind it draws on) leaves the picture as it was.
    (void)target.TextDraw();
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
