#include "ui/layout_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QToolButton>
#include <cmath>

#include "base/invisible_payload.h"
#include "imaging/text.h"
#include "settings/numbers.h"

using namespace Qt::StringLiterals;

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

// A further mark's choices: the first, what an absent key means, is written
// as no value.
const std::pair<const char*, const char*> kStackAnchors[] = {
    {"", "Centre"}, {"TL", "Top left"},    {"T", "Top"},    {"TR", "Top right"},   {"L", "Left"},
    {"R", "Right"}, {"BL", "Bottom left"}, {"B", "Bottom"}, {"BR", "Bottom right"}};
const std::pair<const char*, const char*> kAligns[] = {
    {"", "Lines to the left"}, {"Centre", "Lines centred"}, {"Right", "Lines to the right"}};
const std::pair<const char*, const char*> kBlends[] = {{"", "Normal"},
                                                       {"Multiply", "Multiply"},
                                                       {"Screen", "Screen"},
                                                       {"Overlay", "Overlay"},
                                                       {"SoftLight", "Soft light"}};
const std::pair<const char*, const char*> kShapes[] = {{"", "Every picture"},
                                                       {"Landscape", "Landscape pictures"},
                                                       {"Portrait", "Portrait pictures"},
                                                       {"Square", "Square pictures"}};

template <size_t N>
QComboBox* Choices(const char* name, const std::pair<const char*, const char*> (&items)[N]) {
    auto* box = new QComboBox;
    box->setObjectName(QString::fromLatin1(name));
    // Narrow enough for the panel beside the control panel at any scale;
    // the list opens as wide as its longest choice.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(10);
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
QWidget* Pair(QWidget* a, const QString& between, QWidget* b, QWidget* c = nullptr) {
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
    if (c) h->addWidget(c);
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

MarkEditor::MarkEditor(QWidget* parent) : QGroupBox(tr("Mark:"), parent) {
    setObjectName(QStringLiteral("LayoutMark"));
    File = new QLineEdit;
    File->setObjectName(QStringLiteral("File"));
    Browse = new QPushButton(tr("&Browse..."));
    Browse->setObjectName(QStringLiteral("Browse"));
    Text = new QLineEdit;
    Text->setObjectName(QStringLiteral("Text"));
    Text->setToolTip(tr("Tokens such as {name} or {year}; \\n starts a new line"));
    Font = new QComboBox;
    Font->setObjectName(QStringLiteral("Font"));
    Font->setEditable(true);
    Font->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Font->setMinimumContentsLength(10);
    Font->addItems(FillFontList());
    Font->lineEdit()->setPlaceholderText(QStringLiteral("Arial"));
    Colour = new QLineEdit;
    Colour->setObjectName(QStringLiteral("Colour"));
    Colour->setPlaceholderText(QStringLiteral("#FFFFFF"));
    Colour->setToolTip(tr("Red, green and blue: #RRGGBB"));
    Colour->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("#[0-9A-Fa-f]{0,6}")), Colour));
    Colour->setMaximumWidth(Colour->fontMetrics().horizontalAdvance(QStringLiteral("#DDDDDD")) +
                            16);
    Bold = Check("Bold", tr("Bold"));
    Align = Choices("Align", kAligns);
    Size = SpinBox<QDoubleSpinBox>("Size", 0, 100, QStringLiteral(" %"));
    Size->setDecimals(1);
    SizeOf = Choices("SizeOf", kMeasures);
    Anchor = Choices("Anchor", kStackAnchors);
    MarginX = MarginBox("MarginX");
    MarginY = MarginBox("MarginY");
    Tile = Check("Tile", tr("Tile across the picture"));
    TileGap = SpinBox<QDoubleSpinBox>("TileGap", 0, 100, QStringLiteral(" %"));
    TileGap->setDecimals(1);
    TileAngle = SpinBox<QDoubleSpinBox>("TileAngle", -90, 90, QStringLiteral("°"));
    TileAngle->setDecimals(1);
    Rotate = SpinBox<QDoubleSpinBox>("Rotate", -180, 180, QStringLiteral("°"));
    Rotate->setDecimals(1);
    Opacity = SpinBox<QDoubleSpinBox>("Opacity", 0, 100, QStringLiteral(" %"));
    Opacity->setDecimals(0);
    Blend = Choices("Blend", kBlends);
    Orientation = Choices("Orientation", kShapes);
    Outline = SpinBox<QSpinBox>("Outline", 0, 1000, tr(" px"));
    Outline->setSpecialValueText(tr("none"));
    Shadow = Check("Shadow", tr("Soft shadow"));
    AutoTone = Check("AutoTone", tr("Black or white, to stand out"));
    Box = new QLineEdit;
    Box->setObjectName(QStringLiteral("Box"));
    Box->setPlaceholderText(tr("none"));
    Box->setToolTip(tr("A box of this colour behind the text: #RRGGBB"));
    Box->setValidator(Colour->validator());
    Box->setMaximumWidth(Colour->maximumWidth());
    BoxOpacity = SpinBox<QDoubleSpinBox>("BoxOpacity", 0, 100, QStringLiteral(" %"));
    BoxOpacity->setDecimals(0);
    BoxPadding = SpinBox<QSpinBox>("BoxPadding", 0, 1000, tr(" px"));
    for (QAbstractSpinBox* b : std::initializer_list<QAbstractSpinBox*>{Rotate, BoxPadding})
        b->setMaximumWidth(Size->sizeHint().width());

    auto* form = new QFormLayout(this);
    auto row = [&](std::vector<QWidget*>* kind, const QString& caption, QWidget* field,
                   QWidget* buddy = nullptr) {
        Row(form, caption, field, buddy);
        if (!kind) return;
        kind->push_back(field);
        if (QWidget* label = form->labelForField(field)) kind->push_back(label);
    };
    row(&pictureRows_, tr("&File:"), Pair(File, QString(), Browse), File);
    row(&textRows_, tr("Te&xt:"), Text);
    row(&textRows_, tr("F&ont:"), Font);
    // A swatch of each colour, which opens the colour picker.
    auto swatch = [this](QLineEdit* box, const char* name) {
        auto* b = new QToolButton;
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tr("Click to choose the colour"));
        auto show = [b, box] {
            const QColor c(box->text());
            QPixmap chip(b->fontMetrics().height(), b->fontMetrics().height());
            chip.fill(box->text().size() == 7 && c.isValid() ? c : QColor(Qt::transparent));
            b->setIcon(chip);
        };
        connect(box, &QLineEdit::textChanged, b, show);
        show();
        connect(b, &QToolButton::clicked, this, [this, box] {
            const QColor now(box->text());
            if (!pickColour) return;
            if (const auto c = pickColour(now.isValid() ? now : QColor(Qt::white)))
                box->setText(c->name().toUpper());
        });
        return b;
    };
    ColourSwatch = swatch(Colour, "ColourSwatch");
    BoxSwatch = swatch(Box, "BoxSwatch");
    row(&textRows_, tr("Co&lour:"), Pair(Colour, QString(), ColourSwatch, Bold), Colour);
    row(&textRows_, tr("Li&nes:"), Align);
    row(nullptr, tr("Si&ze:"), Pair(Size, QString(), SizeOf), Size);
    row(nullptr, tr("&Anchor:"), Anchor);
    row(nullptr, tr("&Margins:"), Pair(MarginX, tr("across,"), MarginY), MarginX);
    row(&pictureRows_, QString(), Tile);
    row(&pictureRows_, tr("&Gap, angle:"), Pair(TileGap, QString(), TileAngle), TileGap);
    row(nullptr, tr("&Turn:"), Rotate);
    row(nullptr, tr("O&pacity:"), Pair(Opacity, QString(), Blend), Opacity);
    row(nullptr, tr("On:"), Orientation);
    row(&textRows_, tr("O&utline:"), Pair(Outline, QString(), Shadow), Outline);
    row(&textRows_, tr("Ton&e:"), AutoTone);
    row(&textRows_, tr("Bo&x:"), Pair(Box, QString(), BoxSwatch, BoxOpacity), Box);
    row(&textRows_, tr("Pa&dding:"), BoxPadding);

    keys_ = {{u"File"_s, File},
             {u"Text"_s, Text},
             {u"Font"_s, Font},
             {u"Colour"_s, Colour},
             {u"Bold"_s, Bold},
             {u"Align"_s, Align},
             {u"Size"_s, Size},
             {u"SizeOf"_s, SizeOf},
             {u"Anchor"_s, Anchor},
             {u"MarginX"_s, MarginX},
             {u"MarginY"_s, MarginY},
             {u"Tile"_s, Tile},
             {u"TileGap"_s, TileGap},
             {u"TileAngle"_s, TileAngle},
             {u"Rotate"_s, Rotate},
             {u"Opacity"_s, Opacity},
             {u"Blend"_s, Blend},
             {u"Orientation"_s, Orientation},
             {u"Outline"_s, Outline},
             {u"Shadow"_s, Shadow},
             {u"AutoTone"_s, AutoTone},
             {u"Box"_s, Box},
             {u"BoxOpacity"_s, BoxOpacity},
             {u"BoxPadding"_s, BoxPadding}};
    pictureKeys_ = {File, Tile, TileGap, TileAngle};
    textKeys_ = {Text,   Font,     Colour, Bold,       Align,     Outline,
                 Shadow, AutoTone, Box,    BoxOpacity, BoxPadding};
    auto edited = [this] {
        if (setting_) return;
        Sync();
        emit changed();
    };
    for (const auto& [key, w] : keys_) {
        if (auto* b = qobject_cast<QLineEdit*>(w))
            connect(b, &QLineEdit::textChanged, this, edited);
        if (auto* b = qobject_cast<QComboBox*>(w)) {
            connect(b, &QComboBox::currentIndexChanged, this, edited);
            if (b->isEditable()) connect(b, &QComboBox::currentTextChanged, this, edited);
        }
        if (auto* b = qobject_cast<QCheckBox*>(w)) connect(b, &QCheckBox::toggled, this, edited);
        if (auto* b = qobject_cast<QDoubleSpinBox*>(w))
            connect(b, &QDoubleSpinBox::valueChanged, this, edited);
        if (auto* b = qobject_cast<QSpinBox*>(w)) connect(b, &QSpinBox::valueChanged, this, edited);
    }
    connect(Browse, &QPushButton::clicked, this, [this] {
        if (!pickPicture) return;
        if (const auto file = pickPicture(File->text())) File->setText(*file);
    });
    SetValues(StackMarkSettings());
}

void MarkEditor::Sync() {
    const bool anchored = !Tile->isChecked() || text_;
    Anchor->setEnabled(anchored);
    MarginX->setEnabled(anchored && Anchor->currentIndex() > 0);
    MarginY->setEnabled(anchored && Anchor->currentIndex() > 0);
    TileGap->setEnabled(Tile->isChecked());
    TileAngle->setEnabled(Tile->isChecked());
    BoxOpacity->setEnabled(!Box->text().isEmpty());
    BoxPadding->setEnabled(!Box->text().isEmpty());
}

StackMarkSettings MarkEditor::Values() const {
    StackMarkSettings s;
    s.Apply(u"Kind"_s, text_ ? u"Text"_s : u"Picture"_s);
    for (const auto& [key, w] : keys_) {
        // The controls of the other kind, and values at what their absence
        // means, are not written.
        const std::vector<QWidget*>& other = text_ ? pictureKeys_ : textKeys_;
        if (std::find(other.begin(), other.end(), w) != other.end()) continue;
        QString v;
        if (auto* b = qobject_cast<QLineEdit*>(w)) v = b->text();
        if (auto* b = qobject_cast<QComboBox*>(w))
            v = b->isEditable() ? b->currentText() : b->currentData().toString();
        if (auto* b = qobject_cast<QCheckBox*>(w)) v = b->isChecked() ? u"True"_s : QString();
        const double fallback = s.Fallback(key);
        if (auto* b = qobject_cast<QDoubleSpinBox*>(w))
            v = b->value() != fallback ? FormatNumberText(b->value()) : QString();
        if (auto* b = qobject_cast<QSpinBox*>(w))
            v = b->value() != fallback ? QString::number(b->value()) : QString();
        if (w == SizeOf && v == (text_ ? u"short" : u"width")) v.clear();
        if (!s.Apply(key, v)) s.Apply(key, QString());  // a refused value stays out
    }
    return s;
}

void MarkEditor::SetValues(const StackMarkSettings& s) {
    setting_ = true;
    const QString kind = s.Value(u"Kind"_s);
    text_ = kind.isEmpty() ? s.Value(u"File"_s).isEmpty() : kind == u"Text";
    for (QWidget* w : pictureRows_)
        w->setVisible(!text_);
    for (QWidget* w : textRows_)
        w->setVisible(text_);
    setTitle(text_ ? tr("Text mark:") : tr("Picture mark:"));
    for (const auto& [key, w] : keys_) {
        const QString v = s.Value(key);
        if (auto* b = qobject_cast<QLineEdit*>(w)) b->setText(v);
        if (auto* b = qobject_cast<QComboBox*>(w)) {
            if (b->isEditable()) {
                b->setCurrentText(v);
            } else {
                const QString word =
                    w == SizeOf && v.isEmpty() ? (text_ ? u"short"_s : u"width"_s) : v;
                SetChoice(b, word);
            }
        }
        if (auto* b = qobject_cast<QCheckBox*>(w)) b->setChecked(v == u"True");
        if (auto* b = qobject_cast<QDoubleSpinBox*>(w)) b->setValue(s.Number(key));
        if (auto* b = qobject_cast<QSpinBox*>(w))
            b->setValue(static_cast<int>(std::lround(s.Number(key))));
    }
    Size->setSpecialValueText(text_ ? tr("5 % (default)") : tr("its own size"));
    Sync();
    setting_ = false;
}

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
    TextAutoTone = Check("TextAutoTone", tr("Black or white, to stand out"));

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

    MarkList = new QListWidget;
    MarkList->setObjectName(u"MarkList"_s);
    // Room for six marks; more scroll.
    MarkList->setFixedHeight(MarkList->fontMetrics().height() * 6 + 2 * MarkList->frameWidth());
    MarkList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto button = [](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    AddPicture = button("AddPicture", tr("Add picture..."));
    AddText = button("AddText", tr("Add text"));
    RemoveMark = button("RemoveMark", tr("Remove"));
    MarkUp = button("MarkUp", tr("Up"));
    MarkDown = button("MarkDown", tr("Down"));
    StackProblem = new QLabel;
    StackProblem->setObjectName(u"StackProblem"_s);
    StackProblem->setWordWrap(true);
    StackProblem->hide();
    auto* marks = new QGroupBox(tr("Marks, drawn in this order:"));
    marks->setObjectName(u"LayoutMarks"_s);
    auto* marksColumn = new QVBoxLayout(marks);
    marksColumn->addWidget(MarkList);
    // Two rows: adding, then changing the chosen one.
    for (const auto& [name, row] :
         {std::pair{"MarkButtons", std::vector<QPushButton*>{AddPicture, AddText}},
          std::pair{"ChosenButtons", std::vector<QPushButton*>{RemoveMark, MarkUp, MarkDown}}}) {
        auto* buttons = new QWidget;
        buttons->setObjectName(QString::fromLatin1(name));
        auto* buttonRow = new QHBoxLayout(buttons);
        buttonRow->setContentsMargins(0, 0, 0, 0);
        for (QPushButton* b : row)
            buttonRow->addWidget(b);
        buttonRow->addStretch();
        marksColumn->addWidget(buttons);
    }
    marksColumn->addWidget(StackProblem);
    Editor = new MarkEditor;
    Editor->hide();
    classicMark_ = mark;
    classicText_ = text;

    // Added to every result last, seen by nobody: a payload to prove a copy
    // is one's own.
    Payload = new QLineEdit;
    Payload->setObjectName(u"Payload"_s);
    Payload->setPlaceholderText(tr("none"));
    Payload->setToolTip(
        tr("A number (1234, 0x1F2E, up to 64 bits) or up to 8 characters, "
           "carried unseen by every result; Options > Check for invisible "
           "mark finds it again"));
    Strength =
        SpinBox<QSpinBox>("Strength", kMinInvisibleStrength, kMaxInvisibleStrength, QString());
    Strength->setValue(kDefaultInvisibleStrength);
    Strength->setMaximumWidth(TileGap->sizeHint().width());
    Strength->setToolTip(
        tr("1: faintest; 10: survives the most; 5 changes no pixel by more "
           "than a few levels"));
    PayloadProblem =
        new QLabel(tr("A payload is a number of up to 64 bits (1234, 0x1F2E) or "
                      "up to 8 characters"));
    PayloadProblem->setObjectName(u"PayloadProblem"_s);
    PayloadProblem->setWordWrap(true);
    PayloadProblem->hide();
    auto* invisible = new QGroupBox(tr("Invisible mark:"));
    invisible->setObjectName(u"LayoutInvisible"_s);
    auto* invisibleForm = new QFormLayout(invisible);
    Row(invisibleForm, tr("&Payload:"), Payload);
    Row(invisibleForm, tr("&Strength:"), Strength);
    invisibleForm->addRow(PayloadProblem);

    auto* column = new QVBoxLayout(this);
    column->addWidget(marks);
    column->addWidget(mark);
    column->addWidget(text);
    column->addWidget(Editor);
    column->addWidget(invisible);
    column->addStretch();
    Refill(0);

    connect(MarkList, &QListWidget::currentRowChanged, this, &LayoutPanel::ShowChosen);
    connect(Editor, &MarkEditor::changed, this, [this] {
        const int row = MarkList->currentRow();
        if (row < 1 || row > static_cast<int>(stack_.size())) return;
        stack_[static_cast<size_t>(row - 1)] = Editor->Values();
        MarkList->item(row)->setText(Caption(stack_[static_cast<size_t>(row - 1)]));
        emit changed();
    });
    // A new mark in a corner, as most are placed: kind, what it shows,
    // its size and its corner.
    auto add = [this](const QString& kind, const QString& key, const QString& value,
                      const QString& size, const QString& anchor) {
        StackMarkSettings m;
        for (const auto& [k, v] : {std::pair{u"Kind"_s, kind},
                                   {key, value},
                                   {u"Size"_s, size},
                                   {u"Anchor"_s, anchor},
                                   {u"MarginX"_s, u"3%"_s},
                                   {u"MarginY"_s, u"3%"_s}})
            m.Apply(k, v);
        stack_.push_back(m);
        Refill(static_cast<int>(stack_.size()));
        emit changed();
    };
    connect(AddPicture, &QPushButton::clicked, this, [this, add] {
        const auto file = Editor->pickPicture ? Editor->pickPicture(QString()) : std::nullopt;
        if (file) add(u"Picture"_s, u"File"_s, *file, u"15"_s, u"BR"_s);
    });
    connect(AddText, &QPushButton::clicked, this,
            [add] { add(u"Text"_s, u"Text"_s, u"© {year}"_s, u"4"_s, u"BL"_s); });
    connect(RemoveMark, &QPushButton::clicked, this, [this] {
        const int row = MarkList->currentRow();
        if (row < 1) return;
        stack_.erase(stack_.begin() + (row - 1));
        Refill(std::min(row, static_cast<int>(stack_.size())));
        emit changed();
    });
    auto move = [this](int by) {
        const int row = MarkList->currentRow(), to = row + by;
        if (row < 1 || to < 1 || to > static_cast<int>(stack_.size())) return;
        std::swap(stack_[static_cast<size_t>(row - 1)], stack_[static_cast<size_t>(to - 1)]);
        Refill(to);
        emit changed();
    };
    connect(MarkUp, &QPushButton::clicked, this, [move] { move(-1); });
    connect(MarkDown, &QPushButton::clicked, this, [move] { move(1); });

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
    connect(Payload, &QLineEdit::textChanged, this, [this] {
        PayloadProblem->setVisible(!PayloadRefused().isEmpty());
        Strength->setEnabled(!Payload->text().trimmed().isEmpty());
        emit changed();
    });
    Strength->setEnabled(false);
    connect(Strength, &QSpinBox::valueChanged, this, [this] { emit changed(); });
}

QString LayoutPanel::PayloadRefused() const {
    const bool refused =
        !Payload->text().trimmed().isEmpty() && !InvisiblePayload::Parse(Payload->text());
    return refused ? PayloadProblem->text() : QString();
}

InvisibleSettings LayoutPanel::Invisible() const {
    InvisibleSettings s;
    // A payload its key refuses stays out: the batch says why first.
    s.Apply(u"Payload"_s, Payload->text());
    if (Strength->value() != kDefaultInvisibleStrength)
        s.Apply(u"Strength"_s, QString::number(Strength->value()));
    return s;
}

void LayoutPanel::SetInvisible(const InvisibleSettings& s) {
    Payload->setText(s.Value(u"Payload"_s));
    Strength->setValue(static_cast<int>(std::lround(s.Number(u"Strength"_s))));
}

QString LayoutPanel::Caption(const StackMarkSettings& m) {
    const bool text = m.Value(u"Kind"_s) == u"Text" ||
                      (m.Value(u"Kind"_s).isEmpty() && m.Value(u"File"_s).isEmpty());
    return text ? tr("Text: %1").arg(m.Value(u"Text"_s))
                : tr("Picture: %1").arg(QFileInfo(m.Value(u"File"_s)).fileName());
}

void LayoutPanel::Refill(int chosen) {
    const QSignalBlocker quiet(MarkList);
    MarkList->clear();
    MarkList->addItem(tr("Watermark and text"));
    for (const StackMarkSettings& m : stack_)
        MarkList->addItem(Caption(m));
    MarkList->setCurrentRow(std::clamp(chosen, 0, static_cast<int>(stack_.size())));
    ShowChosen();
}

void LayoutPanel::ShowChosen() {
    const int row = MarkList->currentRow();
    const int count = static_cast<int>(stack_.size());
    const bool classic = row < 1 || row > count;
    classicMark_->setVisible(classic);
    classicText_->setVisible(classic);
    Editor->setVisible(!classic);
    if (!classic) Editor->SetValues(stack_[static_cast<size_t>(row - 1)]);
    RemoveMark->setEnabled(!classic);
    MarkUp->setEnabled(!classic && row > 1);
    MarkDown->setEnabled(!classic && row < count);
    const bool room = count < kLastStackMark - kFirstStackMark + 1;
    AddPicture->setEnabled(room);
    AddText->setEnabled(room);
}

std::map<int, StackMarkSettings> LayoutPanel::Stack() const {
    std::map<int, StackMarkSettings> out;
    int n = kFirstStackMark;
    for (const StackMarkSettings& m : stack_)
        out[n++] = m;
    return out;
}

void LayoutPanel::SetStack(const std::map<int, StackMarkSettings>& stack) {
    stack_.clear();
    for (const auto& [n, m] : stack) {
        if (!m.values().isEmpty()) stack_.push_back(m);  // an empty section asks for nothing
    }
    Refill(std::min(MarkList->currentRow(), static_cast<int>(stack_.size())));
    emit changed();
}

void LayoutPanel::SetStackProblem(const QString& problem) {
    StackProblem->setText(problem);
    StackProblem->setVisible(!problem.isEmpty());
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
