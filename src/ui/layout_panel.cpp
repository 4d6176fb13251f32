#include "ui/layout_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <cmath>

#include "settings/numbers.h"

namespace velda {

namespace {

// The anchors as the file writes them, and as the list shows them.
const std::pair<const char*, const char*> kAnchors[] = {{"", "Classic placement"},
                                                        {"TL", "Top left"},
                                                        {"T", "Top"},
                                                        {"TR", "Top right"},
                                                        {"L", "Left"},
                                                        {"C", "Centre"},
                                                        {"R", "Right"},
                                                        {"BL", "Bottom left"},
                                                        {"B", "Bottom"},
                                                        {"BR", "Bottom right"}};
const std::pair<const char*, const char*> kMeasures[] = {{"width", "of the width"},
                                                         {"height", "of the height"},
                                                         {"short", "of the shorter edge"},
                                                         {"long", "of the longer edge"}};

template <size_t N>
QComboBox* Choices(const char* name, const std::pair<const char*, const char*> (&items)[N]) {
    auto* box = new QComboBox;
    box->setObjectName(QString::fromLatin1(name));
    for (const auto& [word, caption] : items)
        box->addItem(QObject::tr(caption), QString::fromLatin1(word));
    return box;
}

QLineEdit* MarginBox(const char* name) {
    auto* box = new QLineEdit;
    box->setObjectName(QString::fromLatin1(name));
    box->setPlaceholderText(QStringLiteral("0"));
    box->setToolTip(QObject::tr("Pixels, or a percent of the picture: 20 or 3%"));
    box->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral(R"(-?\d{0,6}(\.\d{0,2})?%?)")), box));
    box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("000000%")) + 16);
    return box;
}

template <class Spin>
Spin* SpinBox(const char* name, double low, double high, const QString& suffix) {
    auto* box = new Spin;
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(static_cast<decltype(box->value())>(low),
                  static_cast<decltype(box->value())>(high));
    box->setSuffix(suffix);
    box->setKeyboardTracking(true);
    return box;
}

QCheckBox* Check(const char* name, const QString& caption) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

// Two controls on one line of a form.
QWidget* Pair(QWidget* a, const QString& between, QWidget* b) {
    auto* row = new QWidget;
    row->setObjectName(a->objectName() + QStringLiteral("Row"));
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(a);
    if (!between.isEmpty()) {
        auto* label = new QLabel(between);
        label->setObjectName(a->objectName() + QStringLiteral("Between"));
        h->addWidget(label);
    }
    if (b) h->addWidget(b);
    h->addStretch();
    return row;
}

// A line of a form: its caption, whose key moves to the field.
void Row(QFormLayout* form, const QString& caption, QWidget* field, QWidget* buddy = nullptr) {
    if (caption.isEmpty()) {
        form->addRow(QString(), field);
        return;
    }
    auto* label = new QLabel(caption);
    label->setObjectName((buddy ? buddy : field)->objectName() + QStringLiteral("Label"));
    label->setBuddy(buddy ? buddy : field);
    form->addRow(label, field);
}

void SetChoice(QComboBox* box, const QString& word) {
    box->setCurrentIndex(std::max(0, box->findData(word)));
}

}  // namespace

LayoutPanel::LayoutPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("layout_form"));
    setWindowTitle(tr("Layout"));

    WatermarkSize = SpinBox<QDoubleSpinBox>("WatermarkSize", 0, 100, QStringLiteral(" %"));
    WatermarkSize->setDecimals(1);
    WatermarkSize->setSpecialValueText(tr("its own size"));
    WatermarkSizeOf = Choices("WatermarkSizeOf", kMeasures);
    Anchor = Choices("Anchor", kAnchors);
    MarginX = MarginBox("MarginX");
    MarginY = MarginBox("MarginY");
    Tile = Check("Tile", tr("Tile across the picture"));
    TileGap = SpinBox<QDoubleSpinBox>("TileGap", 0, 100, QStringLiteral(" %"));
    TileGap->setDecimals(1);
    TileGap->setValue(MarksSettings().Fallback(QStringLiteral("TileGap")));
    TileAngle = SpinBox<QDoubleSpinBox>("TileAngle", -90, 90, QStringLiteral("°"));
    TileAngle->setDecimals(1);

    TextSize = SpinBox<QDoubleSpinBox>("TextSize", 0, 100, tr(" % of the shorter edge"));
    TextSize->setDecimals(1);
    TextSize->setSpecialValueText(tr("Size box, in pixels"));
    TextAnchor = Choices("TextAnchor", kAnchors);
    TextMarginX = MarginBox("TextMarginX");
    TextMarginY = MarginBox("TextMarginY");
    TextOutline = SpinBox<QSpinBox>("TextOutline", 0, 1000, tr(" px"));
    TextOutline->setSpecialValueText(tr("none"));
    TextOutline->setMaximumWidth(TileGap->sizeHint().width());
    TextShadow = Check("TextShadow", tr("Soft shadow"));
    TextAutoTone = Check("TextAutoTone", tr("Black or white, whichever stands out"));

    auto* mark = new QGroupBox(tr("Watermark:"));
    mark->setObjectName(QStringLiteral("LayoutWatermark"));
    auto* markForm = new QFormLayout(mark);
    Row(markForm, tr("Si&ze:"), Pair(WatermarkSize, QString(), WatermarkSizeOf), WatermarkSize);
    Row(markForm, tr("&Anchor:"), Anchor);
    Row(markForm, tr("&Margins:"), Pair(MarginX, tr("across,"), MarginY), MarginX);
    Row(markForm, QString(), Tile);
    Row(markForm, tr("&Gap, angle:"), Pair(TileGap, QString(), TileAngle), TileGap);

    auto* text = new QGroupBox(tr("Text:"));
    text->setObjectName(QStringLiteral("LayoutText"));
    auto* textForm = new QFormLayout(text);
    Row(textForm, tr("Line &height:"), TextSize);
    Row(textForm, tr("A&nchor:"), TextAnchor);
    Row(textForm, tr("Ma&rgins:"), Pair(TextMarginX, tr("across,"), TextMarginY), TextMarginX);
    Row(textForm, tr("O&utline:"), TextOutline);
    Row(textForm, QString(), TextShadow);
    Row(textForm, tr("&Tone:"), TextAutoTone);

    auto* column = new QVBoxLayout(this);
    column->addWidget(mark);
    column->addWidget(text);
    column->addStretch();

    // Settings that mean nothing without another stay greyed.
    auto sync = [this] {
        WatermarkSizeOf->setEnabled(WatermarkSize->value() > 0);
        const bool anchored = Anchor->currentIndex() > 0 && !Tile->isChecked();
        MarginX->setEnabled(anchored);
        MarginY->setEnabled(anchored);
        Anchor->setEnabled(!Tile->isChecked());
        TileGap->setEnabled(Tile->isChecked());
        TileAngle->setEnabled(Tile->isChecked());
        TextMarginX->setEnabled(TextAnchor->currentIndex() > 0);
        TextMarginY->setEnabled(TextAnchor->currentIndex() > 0);
    };
    sync();
    auto emitChanged = [this, sync] {
        sync();
        emit changed();
    };
    for (QDoubleSpinBox* b : {WatermarkSize, TextSize, TileGap, TileAngle})
        connect(b, &QDoubleSpinBox::valueChanged, this, emitChanged);
    connect(TextOutline, &QSpinBox::valueChanged, this, emitChanged);
    for (QComboBox* b : {WatermarkSizeOf, Anchor, TextAnchor})
        connect(b, &QComboBox::currentIndexChanged, this, emitChanged);
    for (QLineEdit* b : {MarginX, MarginY, TextMarginX, TextMarginY})
        connect(b, &QLineEdit::textChanged, this, emitChanged);
    for (QCheckBox* b : {Tile, TextShadow, TextAutoTone})
        connect(b, &QCheckBox::toggled, this, emitChanged);
}

MarksSettings LayoutPanel::Settings() const {
    MarksSettings s;
    auto put = [&s](const char* key, const QString& value) {
        s.Apply(QString::fromLatin1(key), value);  // a refused value stays out
    };
    auto number = [](double v) { return v > 0 ? FormatNumberText(v) : QString(); };
    auto flag = [](const QCheckBox* b) {
        return b->isChecked() ? QStringLiteral("True") : QString();
    };
    put("WatermarkSize", number(WatermarkSize->value()));
    if (WatermarkSize->value() > 0)
        put("WatermarkSizeOf", WatermarkSizeOf->currentData().toString());
    put("Anchor", Anchor->currentData().toString());
    put("MarginX", MarginX->text());
    put("MarginY", MarginY->text());
    put("Tile", flag(Tile));
    if (TileGap->value() != s.Fallback(QStringLiteral("TileGap")))
        put("TileGap", FormatNumberText(TileGap->value()));
    put("TileAngle", TileAngle->value() != 0 ? FormatNumberText(TileAngle->value()) : QString());
    put("TextSize", number(TextSize->value()));
    put("TextAnchor", TextAnchor->currentData().toString());
    put("TextMarginX", TextMarginX->text());
    put("TextMarginY", TextMarginY->text());
    put("TextOutline",
        TextOutline->value() > 0 ? QString::number(TextOutline->value()) : QString());
    put("TextShadow", flag(TextShadow));
    put("TextAutoTone", flag(TextAutoTone));
    return s;
}

void LayoutPanel::SetSettings(const MarksSettings& s) {
    auto value = [&s](const char* key) { return s.Value(QString::fromLatin1(key)); };
    auto number = [&](const char* key, double fallback) {
        return ParseNumberIn(value(key), -1e9, 1e9).value_or(fallback);
    };
    WatermarkSize->setValue(number("WatermarkSize", 0));
    SetChoice(WatermarkSizeOf, value("WatermarkSizeOf"));
    SetChoice(Anchor, value("Anchor"));
    MarginX->setText(value("MarginX"));
    MarginY->setText(value("MarginY"));
    Tile->setChecked(value("Tile") == u"True");
    TileGap->setValue(s.Number(QStringLiteral("TileGap")));
    TileAngle->setValue(number("TileAngle", 0));
    TextSize->setValue(number("TextSize", 0));
    SetChoice(TextAnchor, value("TextAnchor"));
    TextMarginX->setText(value("TextMarginX"));
    TextMarginY->setText(value("TextMarginY"));
    TextOutline->setValue(static_cast<int>(std::lround(number("TextOutline", 0))));
    TextShadow->setChecked(value("TextShadow") == u"True");
    TextAutoTone->setChecked(value("TextAutoTone") == u"True");
    emit changed();
}

}  // namespace velda
