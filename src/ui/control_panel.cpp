#include "ui/control_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>

#include "batch/messages.h"
#include "batch/tokens.h"
#include "imaging/codec.h"
#include "imaging/compositing.h"
#include "imaging/loaders.h"
#include "imaging/text.h"
#include "settings/ini_file.h"
#include "settings/numbers.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/result_window.h"
#include "ui/twips.h"
#include "ui/window_support.h"

namespace velda {

namespace {

// Captions measured for another font may not fit: such a control grows
// away from the edge its text is aligned to.
template <class W>
W* Fit(W* widget, bool growLeft) {
    const int need = widget->sizeHint().width();
    QRect g = widget->geometry();
    if (need <= g.width()) return widget;
    if (growLeft) {
        g.setLeft(std::max(0, g.right() - need));
    } else {
        g.setWidth(need);
    }
    widget->setGeometry(g);
    return widget;
}

QLabel* Label(QWidget* parent, const char* name, const char* text, int l, int t, int w, int h,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    QLabel* label = Place<QLabel>(parent, name, l, t, w, h, QString::fromLatin1(text));
    label->setAlignment(align);
    return Fit(label, align & Qt::AlignRight);
}

// A check box with its box right of its caption.
QCheckBox* CheckRight(QWidget* parent, const char* name, const char* text, int l, int t, int w,
                      int h) {
    QCheckBox* box = Place<QCheckBox>(parent, name, l, t, w, h, QString::fromLatin1(text));
    box->setLayoutDirection(Qt::RightToLeft);
    return Fit(box, true);
}

QRadioButton* Radio(QWidget* parent, const char* name, const char* text, int l, int t, int w,
                    int h) {
    return Fit(Place<QRadioButton>(parent, name, l, t, w, h, QString::fromLatin1(text)), false);
}

// Tab goes through the controls in this order.
void TabChain(std::initializer_list<QWidget*> chain) {
    QWidget* previous = nullptr;
    for (QWidget* w : chain) {
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

// Menu shortcuts work wherever the focus is, as menu accelerators do: a text
// box does not keep Ctrl+A (select all) or Ctrl+B for itself.
class MenuKeysFirst : public QObject {
  public:
    MenuKeysFirst(QList<QAction*> actions, QObject* parent)
        : QObject(parent), actions_(std::move(actions)) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QKeySequence pressed(key->keyCombination());
            for (const QAction* a : actions_) {
                if (a->isEnabled() && a->shortcut() == pressed) return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    QList<QAction*> actions_;
};

}  // namespace

ControlPanel::ControlPanel(AppState& state, Prompter& prompter, PanelHost& host, QWidget* parent)
    : QWidget(parent), state_(state), prompter_(prompter), host_(host), batch_(this, prompter) {
    setObjectName(QStringLiteral("any_image_form"));
    layout_ = new LayoutPanel;
    layout_->Editor->pickColour = [this](const QColor& now) { return prompter_.PickColour(now); };
    layout_->Editor->pickPicture = [this](const QString& current) {
        const QString dir = current.trimmed().isEmpty() ? state_.InitDir : current.trimmed();
        const auto chosen =
            prompter_.OpenFile(tr("Open Mark Picture"), dir,
                               OpenFilters() + QStringLiteral("SVG (*.SVG;*.SVGZ)|*.SVG;*.SVGZ|"));
        if (chosen) state_.InitDir = CutInitDir(*chosen);
        return chosen;
    };
    previewTimer_.setSingleShot(true);
    // Short enough that a 24-megapixel photo shows the change within a
    // tenth of a second of the last key, long enough to skip the keys
    // before it.
    previewTimer_.setInterval(40);
    connect(&previewTimer_, &QTimer::timeout, this, &ControlPanel::PreviewNow);
    // The form's measures scale with its font (the desktop's own), so every
    // caption fits.
    BuildUpperPart();
    BuildBatchSection();
    BuildMenu();
    BuildKeyboard();
    // A file dropped on a box replaces its text and is loaded; files or a
    // folder dropped on the batch lists are the batch's.
    new FileDrop(ofile, [this](const QStringList& f) { OpenPicture(f.first()); });
    new FileDrop(wfile, [this](const QStringList& f) {
        wfile->setText(f.first());
        LoadWatermarkFile(f.first());
    });
    new FileDrop(tfile, [this](const QStringList& f) {
        tfile->setText(f.first());
        LoadTemplateFile(f.first());
    });
    for (QWidget* list : {static_cast<QWidget*>(InputFile), static_cast<QWidget*>(InputDir)})
        new FileDrop(list, [this](const QStringList& f) { ChooseBatchFiles(f); });
    setFixedWidth(FormUnits(font()).X(10290));
    SetHeightTwips(heightTwips_);
}

ControlPanel::~ControlPanel() {
    // The batch's thread is stopped and joined while the window is whole.
    StopBatchAndWait();
    // The file list empties as its window goes: nothing of this panel,
    // by then no longer whole, may count it.
    InputFile->model()->disconnect(this);
    InputFile->disconnect(this);
    // Shown by no frame, the Layout panel is ours to delete.
    if (layout_ && !layout_->parentWidget()) delete layout_;
}

void ControlPanel::BuildUpperPart() {
    MainForm = Place<QGroupBox>(this, "MainForm", 15, 0, 7170, 2115, tr("Image Watermarking:"));
    const auto right = Qt::AlignRight | Qt::AlignVCenter;
    Label(MainForm, "Label1", "File to watermark:", 360, 330, 1335, 195, right);
    ofile = Place<QLineEdit>(MainForm, "ofile", 1770, 285, 2640, 285);
    origbrw = Place<QPushButton>(MainForm, "origbrw", 4485, 270, 300, 315, QStringLiteral(".."));
    Label(MainForm, "Label12", "Watermark file:", 375, 690, 1335, 195, right);
    wfile = Place<QLineEdit>(MainForm, "wfile", 1770, 660, 2625, 285);
    waterbrw = Place<QPushButton>(MainForm, "waterbrw", 4485, 645, 300, 315, QStringLiteral(".."));
    Label(MainForm, "Label11", "Template file (optional):", 15, 1050, 1695, 195, right);
    tfile = Place<QLineEdit>(MainForm, "tfile", 1770, 1020, 2640, 285);
    templbrw = Place<QPushButton>(MainForm, "templbrw", 4485, 1005, 300, 315, QStringLiteral(".."));

    Frame3D2 = Place<QGroupBox>(MainForm, "Frame3D2", 4920, 180, 2130, 1200, QString());
    ipix = Radio(Frame3D2, "ipix", "Pixel:", 75, 180, 675, 195);
    Iper = Radio(Frame3D2, "Iper", "Percentage:", 825, 180, 1170, 195);
    Label(Frame3D2, "Label2", "Xpos:", 195, 495, 450, 210);
    wx = Place<QLineEdit>(Frame3D2, "wx", 645, 465, 405, 285, QStringLiteral("10"));
    Label(Frame3D2, "Label5", "Ypos:", 1125, 495, 435, 210);
    wy = Place<QLineEdit>(Frame3D2, "wy", 1560, 480, 405, 285, QStringLiteral("10"));
    centre = CheckRight(Frame3D2, "centre", "Centre:", 705, 840, 810, 210);
    wx->setEnabled(false);
    wy->setEnabled(false);

    Label(MainForm, "Label4", "Transparency level:", 255, 1455, 1515, 210);
    mixvalue = Place<FocusScrollBar>(MainForm, "mixvalue", 1770, 1410, 3015, 240, Qt::Horizontal);
    mixvalue->setRange(0, 255);
    mixvalue->setPageStep(16);
    Label(MainForm, "Label9", "High", 1770, 1680, 465, 210);
    Label(MainForm, "Label10", "Low", 4470, 1680, 345, 210);
    tval = Label(MainForm, "tval", "", 2955, 1665, 690, 210, Qt::AlignCenter);

    // Inside the frame it stands on, so that nothing lies on top of another.
    ApplyStuff =
        Place<QPushButton>(MainForm, "ApplyStuff", 5190, 1500, 1605, 450, tr("A&pply watermark"));

    Frame3D1 = Place<QGroupBox>(this, "Frame3D1", 7245, 0, 3015, 2115, tr("Text Watermarking:"));
    Label(Frame3D1, "Label3", "Text to apply:", 120, 180, 1065, 195);
    CopyText = Place<QPlainTextEdit>(Frame3D1, "CopyText", 105, 390, 2820, 585);
    tpix = Radio(Frame3D1, "tpix", "Pixel:", 165, 1080, 735, 195);
    tper = Radio(Frame3D1, "tper", "Percent:", 15, 1395, 900, 195);
    Label(Frame3D1, "Label16", "Colour (HTML):", 1020, 1065, 1125, 210);
    Textclr = Place<QLineEdit>(Frame3D1, "Textclr", 2145, 1035, 780, 285, QStringLiteral("10"));
    // Seven: "#RRGGBB" typed is taken, and kept in the file's own form.
    Textclr->setMaxLength(7);
    Label(Frame3D1, "Label8", "Xpos:", 1095, 1395, 450, 210);
    tx = Place<QLineEdit>(Frame3D1, "tx", 1545, 1365, 405, 285, QStringLiteral("10"));
    Label(Frame3D1, "Label7", "Ypos:", 2070, 1395, 435, 210);
    ty = Place<QLineEdit>(Frame3D1, "ty", 2505, 1365, 405, 285, QStringLiteral("10"));
    Label(Frame3D1, "Label6", "Size:", 60, 1770, 375, 210);
    ts = Place<QLineEdit>(Frame3D1, "ts", 435, 1725, 405, 315, QStringLiteral("20"));
    wmfont = Place<QComboBox>(Frame3D1, "wmfont", 900, 1725, 1650, 315);
    // The colour the text is drawn in; a click opens the colour picker.
    TextclrSwatch = Place<QToolButton>(Frame3D1, "TextclrSwatch", 2610, 1725, 330, 315);
    TextclrSwatch->setToolTip(tr("The text's colour: click to choose one"));
    wmfont->setEditable(true);

    connect(ApplyStuff, &QPushButton::clicked, this, &ControlPanel::ApplyStuff_Click);
    connect(mixvalue, &QScrollBar::valueChanged, this, &ControlPanel::mixvalue_Change);
    connect(centre, &QCheckBox::toggled, this, &ControlPanel::centre_Click);
    connect(tfile, &QLineEdit::textChanged, this, &ControlPanel::tfile_Change);
    connect(wfile, &QLineEdit::textChanged, this, &ControlPanel::wfile_Change);
    connect(origbrw, &QPushButton::clicked, this, [this] { BrowseMainFile(QString()); });
    connect(waterbrw, &QPushButton::clicked, this, [this] { BrowseWatermarkFile(QString()); });
    connect(templbrw, &QPushButton::clicked, this, [this] { BrowseTemplateFile(QString()); });
    connect(ofile, &QLineEdit::returnPressed, this,
            [this] { BrowseMainFile(ofile->text().trimmed()); });
    connect(wfile, &QLineEdit::returnPressed, this,
            [this] { BrowseWatermarkFile(wfile->text().trimmed()); });
    connect(tfile, &QLineEdit::returnPressed, this,
            [this] { BrowseTemplateFile(tfile->text().trimmed()); });

    for (QLineEdit* box : {wx, wy, tx, ty, ts, Textclr})
        connect(box, &QLineEdit::textChanged, this, &ControlPanel::SchedulePreview);
    // The box keeps the file's blue-green-red digits; "#RRGGBB", the form
    // every other program uses, is read as red-green-blue and turned into
    // them; the swatch shows the colour the text is drawn in.
    connect(Textclr, &QLineEdit::textEdited, this, [this](const QString& typed) {
        static const QRegularExpression rgb(QStringLiteral("^#[0-9A-Fa-f]{6}$"));
        if (!rgb.match(typed.trimmed()).hasMatch()) return;
        const uint v = typed.trimmed().mid(1).toUInt(nullptr, 16);
        Textclr->setText(WindowsColourText(qRgb((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF)));
    });
    auto showColour = [this] {
        QPixmap chip(TextclrSwatch->size() - QSize(10, 10));
        chip.fill(QColor::fromRgb(ParseForeColor(QStringLiteral("&H") + Textclr->text())));
        TextclrSwatch->setIconSize(chip.size());
        TextclrSwatch->setIcon(chip);
    };
    connect(Textclr, &QLineEdit::textChanged, this, showColour);
    showColour();
    connect(TextclrSwatch, &QToolButton::clicked, this, [this] {
        const QColor now = QColor::fromRgb(ParseForeColor(QStringLiteral("&H") + Textclr->text()));
        if (const auto c = prompter_.PickColour(now)) Textclr->setText(WindowsColourText(c->rgb()));
    });
    for (QRadioButton* b : {ipix, Iper, tpix, tper})
        connect(b, &QRadioButton::toggled, this, &ControlPanel::SchedulePreview);
    connect(centre, &QCheckBox::toggled, this, &ControlPanel::SchedulePreview);
    connect(CopyText, &QPlainTextEdit::textChanged, this, &ControlPanel::SchedulePreview);
    connect(wmfont, &QComboBox::currentTextChanged, this, &ControlPanel::SchedulePreview);
    connect(mixvalue, &QScrollBar::valueChanged, this, &ControlPanel::SchedulePreview);
    connect(layout_, &LayoutPanel::changed, this, [this] {
        SyncClassicControls();
        SchedulePreview();
    });
}

void ControlPanel::SchedulePreview() {
    if (!startingUp_ && livepreview_mnu->isChecked()) previewTimer_.start();
}

void ControlPanel::PreviewNow() {
    previewTimer_.stop();
    ResultWindow* r = host_.ExistingResult();
    if (livepreview_mnu->isChecked() && r && !r->Full_Picbuf.FileName.isEmpty() &&
        r->Copy_Picbuf.HasPicture())
        ApplyMarksToResult(r);
}

void ControlPanel::SyncClassicControls() {
    const MarkLayout l = MarkLayoutFrom(layout_->Settings());
    const bool placed = l.anchor == Anchor::None && !l.tile;
    for (QWidget* w :
         {static_cast<QWidget*>(ipix), static_cast<QWidget*>(Iper), static_cast<QWidget*>(centre)})
        w->setEnabled(placed);
    wx->setEnabled(placed && !centre->isChecked());
    wy->setEnabled(placed && !centre->isChecked());
    const bool textPlaced = l.textAnchor == Anchor::None;
    for (QWidget* w : {static_cast<QWidget*>(tpix), static_cast<QWidget*>(tper),
                       static_cast<QWidget*>(tx), static_cast<QWidget*>(ty)})
        w->setEnabled(textPlaced);
    ts->setEnabled(l.textSize <= 0);
    Textclr->setEnabled(!l.textAutoTone);
}

void ControlPanel::BuildBatchSection() {
    Frame3D6 = Place<QGroupBox>(this, "Frame3D6", 960, 2325, 8505, 4035,
                                tr("Select files to batch watermark:"));
    Frame3D4 = Place<QGroupBox>(Frame3D6, "Frame3D4", 90, 225, 1455, 2055, tr("Image formats:"));
    All_Option = Radio(Frame3D4, "All_Option", "ALL", 75, 225, 585, 255);
    FIF_option = Radio(Frame3D4, "FIF_option", "FIF", 765, 255, 600, 210);
    JPG_Option = Radio(Frame3D4, "JPG_Option", "JPG", 75, 510, 645, 210);
    GIF_Option = Radio(Frame3D4, "GIF_Option", "GIF", 765, 510, 570, 210);
    tga_option = Radio(Frame3D4, "tga_option", "TGA", 75, 750, 645, 210);
    TIF_Option = Radio(Frame3D4, "TIF_Option", "TIF", 765, 765, 555, 210);
    PCX_Option = Radio(Frame3D4, "PCX_Option", "PCX", 75, 1005, 645, 210);
    Bmp_Option = Radio(Frame3D4, "Bmp_Option", "BMP", 765, 1005, 645, 210);
    Option3D1 = Radio(Frame3D4, "Option3D1", "PCD", 75, 1245, 630, 210);
    All_Option->setChecked(true);
    pcdbase = Place<QComboBox>(Frame3D4, "pcdbase", 120, 1575, 1230, 315);
    pcdbase->setEditable(true);

    Frame3D3 = Place<QGroupBox>(Frame3D6, "Frame3D3", 1590, 225, 2055, 3210, tr("Input path:"));
    InputDrive = Place<DriveList>(Frame3D3, "InputDrive", 150, 300, 1785, 315);
    InputDir = Place<DirectoryList>(Frame3D3, "InputDir", 135, 705, 1800, 825);
    InputFile = Place<FileListBox>(Frame3D3, "InputFile", 135, 1590, 1800, 870);
    InputFile->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // How many are chosen, and all or none at one click.
    FileCount = Label(Frame3D3, "FileCount", "", 135, 2550, 780, 210);
    SelectAll = Place<QPushButton>(Frame3D3, "SelectAll", 945, 2505, 480, 300, tr("All"));
    SelectAll->setToolTip(tr("Select all the files"));
    SelectNone = Place<QPushButton>(Frame3D3, "SelectNone", 1455, 2505, 480, 300, tr("None"));
    SelectNone->setToolTip(tr("Select none of the files"));
    auto count = [this] {
        FileCount->setText(
            tr("%1 of %2").arg(InputFile->selectedItems().size()).arg(InputFile->count()));
    };
    connect(InputFile, &QListWidget::itemSelectionChanged, this, count);
    connect(InputFile->model(), &QAbstractItemModel::rowsInserted, this, count);
    connect(InputFile->model(), &QAbstractItemModel::rowsRemoved, this, count);
    connect(InputFile->model(), &QAbstractItemModel::modelReset, this, count);
    connect(SelectAll, &QPushButton::clicked, InputFile, &QListWidget::selectAll);
    connect(SelectNone, &QPushButton::clicked, InputFile, &QListWidget::clearSelection);
    count();
    SubCheck = CheckRight(Frame3D3, "SubCheck", "Scan Subdirectories:", 150, 2895, 1770, 210);

    Frame3D7 = Place<QGroupBox>(Frame3D6, "Frame3D7", 3690, 225, 2055, 3210, tr("Output path:"));
    OutputDrive = Place<DriveList>(Frame3D7, "OutputDrive", 135, 315, 1800, 315);
    OutputDir = Place<DirectoryList>(Frame3D7, "OutputDir", 135, 690, 1800, 2340);

    Frame3D5 =
        Place<QGroupBox>(Frame3D6, "Frame3D5", 5805, 225, 2595, 3000, tr("File output options:"));
    // Four rows of formats, a little closer than the three were, so that
    // the frame still ends above the count of files below it.
    SSFrame1 = Place<QGroupBox>(Frame3D5, "SSFrame1", 195, 285, 2235, 1215, tr("Image Format:"));
    TGAO = Radio(SSFrame1, "TGAO", "TGA", 135, 255, 720, 210);
    JPGO = Radio(SSFrame1, "JPGO", "JPG", 855, 255, 615, 210);
    TIFo = Radio(SSFrame1, "TIFo", "TIF", 1530, 255, 615, 210);
    BMPO = Radio(SSFrame1, "BMPO", "BMP", 135, 495, 690, 210);
    PCXO = Radio(SSFrame1, "PCXO", "PCX", 855, 495, 675, 210);
    GIFO = Radio(SSFrame1, "GIFO", "GIF", 1530, 495, 630, 210);
    // The web formats on a row of their own, the modern ones on the next.
    PNGO = Radio(SSFrame1, "PNGO", "PNG", 135, 735, 690, 210);
    WEBPO = Radio(SSFrame1, "WEBPO", "WebP", 855, 735, 900, 210);
    HEICO = Radio(SSFrame1, "HEICO", "HEIC", 135, 975, 690, 210);
    AVIFO = Radio(SSFrame1, "AVIFO", "AVIF", 855, 975, 675, 210);
    JXLO = Radio(SSFrame1, "JXLO", "JXL", 1530, 975, 630, 210);
    JPGO->setChecked(true);
    // Quality, depth and deletion sit a little closer than they were laid
    // out, so that "Delete orginal files" lies inside its frame.
    Label(Frame3D5, "Label13", "Jpeg quality:", 180, 1530, 915, 210);
    jpegval = Place<FocusScrollBar>(Frame3D5, "jpegval", 180, 1740, 2235, 240, Qt::Horizontal);
    jpegval->setToolTip(
        tr("The quality of JPG, WebP, HEIC, AVIF and JXL results; 100 is lossless in JXL"));
    jpegval->setRange(0, 100);
    jpegval->setSingleStep(1);
    jpegval->setPageStep(5);
    Label(Frame3D5, "Label14", "Low", 165, 1980, 345, 210);
    Label(Frame3D5, "Label15", "High", 2070, 1980, 465, 210);
    jval = Label(Frame3D5, "jval", "", 945, 1980, 690, 210, Qt::AlignCenter);
    Frame3D9 = Place<QGroupBox>(Frame3D5, "Frame3D9", 180, 2205, 2235, 540, tr("Colour Depth:"));
    bit24 = Radio(Frame3D9, "bit24", "24 Bit", 60, 270, 780, 210);
    bit8 = Radio(Frame3D9, "bit8", "8 Bit", 840, 270, 660, 210);
    bit4 = Radio(Frame3D9, "bit4", "4 Bit", 1500, 270, 660, 210);
    bit24->setChecked(true);
    delete_files =
        CheckRight(Frame3D5, "delete_files", "Delete orginal files:", 315, 2760, 1620, 210);
    Compress_Number = Label(Frame3D6, "Compress_Number", "", 5940, 3225, 2325, 225);
    Start = Place<QPushButton>(Frame3D6, "Start", 5940, 3495, 1095, 375, tr("&Start "));
    Command3D1 =
        Place<QPushButton>(Frame3D6, "Command3D1", 7125, 3495, 1185, 375, tr("&Cancel Batch"));
    // How results are sized, named and filed: the [Output] keys.
    Label(Frame3D6, "Label17", "Resize:", 90, 3585, 600, 210);
    ResizeBox = Place<QLineEdit>(Frame3D6, "ResizeBox", 720, 3540, 1410, 285);
    ResizeBox->setPlaceholderText(QStringLiteral("long:2048"));
    ResizeBox->setToolTip(
        tr("long:N, short:N, width:N, height:N or fit:WxH; never enlarges; "
           "empty: full size"));
    Label(Frame3D6, "Label18", "Name:", 2220, 3585, 510, 210);
    NameBox = Place<QLineEdit>(Frame3D6, "NameBox", 2760, 3540, 1500, 285);
    NameBox->setPlaceholderText(QStringLiteral("{name}"));
    NameBox->setToolTip(
        tr("The result's name without extension: {name} {counter} {counter:3} {date} {width} "
           "{height}"));
    KeepTree = Place<QCheckBox>(Frame3D6, "KeepTree", 4350, 3585, 1500, 210, tr("Keep folders"));
    KeepTree->setToolTip(
        tr("With Scan Subdirectories: results in the same folders under the "
           "output path"));
    // A bar beside the label, for a long run.
    batchProgress = Place<QProgressBar>(Frame3D6, "batchProgress", 90, 2940, 1455, 240);
    batchProgress->setTextVisible(true);
    batchProgress->setValue(0);
    connect(jpegval, &QScrollBar::valueChanged, this, &ControlPanel::jpegval_Change);

    // The input chain: drive, then folder, then the files of that folder.
    InputFile->setPattern(PictureEndingPatterns());
    connect(InputDrive, &DriveList::driveChosen, this,
            [this](const QString& root) { InputDir->setPath(root); });
    connect(InputDir, &DirectoryList::pathChanged, InputFile, &FileListBox::setPath);
    connect(OutputDrive, &DriveList::driveChosen, this,
            [this](const QString& root) { OutputDir->setPath(root); });
    // Every spelling of each kind (the lists match without regard to case).
    const std::pair<QRadioButton*, FormatId> patterns[] = {
        {All_Option, FormatId::Unknown}, {JPG_Option, FormatId::Jpeg},
        {GIF_Option, FormatId::Gif},     {Bmp_Option, FormatId::Bmp},
        {PCX_Option, FormatId::Pcx},     {TIF_Option, FormatId::Tiff},
        {tga_option, FormatId::Targa},   {FIF_option, FormatId::Fif},
        {Option3D1, FormatId::PhotoCd}};
    for (const auto& [option, kind] : patterns) {
        const QString p = PictureEndingPatterns(kind);
        connect(option, &QRadioButton::clicked, InputFile, [this, p] { InputFile->setPattern(p); });
    }
    InputDir->setPath(QDir::currentPath());
    InputDrive->ShowDriveOf(InputDir->path());
    OutputDir->setPath(QDir::currentPath());
    OutputDrive->ShowDriveOf(OutputDir->path());
    for (const auto& [button, id] : OutputButtons())
        connect(button, &QRadioButton::toggled, this, [this, id](bool on) {
            if (on) OutputFormatChosen(id);
        });
    OutputFormatChosen(FormatId::Jpeg);
    connect(Start, &QPushButton::clicked, this, &ControlPanel::Start_Click);
    connect(Command3D1, &QPushButton::clicked, this, &ControlPanel::Command3D1_Click);
}

void ControlPanel::BuildKeyboard() {
    // Tab leaves the text box rather than typing a tab into the watermark.
    CopyText->setTabChangesFocus(true);
    // The sliders take the keys: arrows, Page Up/Down, Home, End, each
    // moving the thumb the way it points.
    for (QScrollBar* slider : {mixvalue, jpegval}) {
        slider->setFocusPolicy(Qt::StrongFocus);
        slider->setInvertedControls(false);
    }
}

void ControlPanel::SetTabOrder() {
    TabChain(
        {ofile,         origbrw,    wfile,      waterbrw,    tfile,      templbrw,   ipix,
         Iper,          wx,         wy,         centre,      mixvalue,   ApplyStuff, CopyText,
         tpix,          Textclr,    tper,       tx,          ty,         ts,         wmfont,
         TextclrSwatch, All_Option, FIF_option, JPG_Option,  GIF_Option, tga_option, TIF_Option,
         PCX_Option,    Bmp_Option, Option3D1,  pcdbase,     InputDrive, InputDir,   InputFile,
         SelectAll,     SelectNone, SubCheck,   OutputDrive, OutputDir,  TGAO,       JPGO,
         TIFo,          BMPO,       PCXO,       GIFO,        PNGO,       WEBPO,      HEICO,
         AVIFO,         JXLO,       jpegval,    bit24,       bit8,       bit4,       delete_files,
         ResizeBox,     NameBox,    KeepTree,   Start,       Command3D1});
    // On into the Layout panel where it stands beside the panel.
    if (layout_ && layout_->window() == window())
        QWidget::setTabOrder(Command3D1, layout_->MarkList);
}

bool ControlPanel::focusNextPrevChild(bool next) {
    QWidget* from = focusWidget();
    if (next && from && layout_ && layout_->isVisible()) {
        QWidget* w = from->nextInFocusChain();
        for (; w && w != from; w = w->nextInFocusChain()) {
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) break;
        }
        if (w && layout_->isAncestorOf(w)) {
            w->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QWidget::focusNextPrevChild(next);
}

QList<QAction*> ControlPanel::ProgramActions() const {
    return {open_mnu,
            recentMenu->menuAction(),
            batch_mnu,
            savepreset_mnu,
            presetMenu->menuAction(),
            help_mnu,
            about_mnu,
            exit_mnu};
}

void ControlPanel::BuildMenu() {
    fileMenu_ = new QMenu(tr("&File"), this);
    fileMenu_->setObjectName(QStringLiteral("file_mnu"));
    open_mnu = fileMenu_->addAction(tr("&Open..."), this, [this] {
        const auto chosen =
            prompter_.OpenFile(tr("Open Image File"), state_.InitDir, PictureFilters());
        if (!chosen) return;
        state_.InitDir = CutInitDir(*chosen);
        OpenPicture(*chosen);
    });
    open_mnu->setObjectName(QStringLiteral("open_mnu"));
    open_mnu->setShortcut(QKeySequence::Open);
    recentMenu = fileMenu_->addMenu(tr("Open &Recent"));
    recentMenu->setObjectName(QStringLiteral("recent_mnu"));
    connect(recentMenu, &QMenu::aboutToShow, this, [this] {
        recentMenu->clear();
        const QStringList files = ReadRecentFiles(state_.settingsPath);
        for (int i = 0; i < files.size(); ++i) {
            const QString file = files[i];
            recentMenu->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(file), this,
                                  [this, file] { OpenPicture(file); });
        }
        if (files.isEmpty()) recentMenu->addAction(tr("(none yet)"))->setEnabled(false);
    });
    fileMenu_->addSeparator();
    batch_mnu = fileMenu_->addAction(tr("Batch watermark"), this, &ControlPanel::batch_mnu_Click);
    batch_mnu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    about_mnu = fileMenu_->addAction(tr("About Velda"), this, [this] { host_.About(); });
    about_mnu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    savepreset_mnu =
        fileMenu_->addAction(tr("Save settings as preset..."), this, &ControlPanel::SavePresetAs);
    savepreset_mnu->setObjectName(QStringLiteral("savepreset_mnu"));
    presetMenu = fileMenu_->addMenu(tr("Load preset"));
    presetMenu->setObjectName(QStringLiteral("loadpreset_mnu"));
    // Listed anew each time: velda-batch users add presets by hand too.
    connect(presetMenu, &QMenu::aboutToShow, this, [this] {
        presetMenu->clear();
        const QStringList names = PresetNames(state_.settingsPath);
        for (const QString& name : names)
            presetMenu->addAction(name, this, [this, name] { LoadPreset(name); });
        if (names.isEmpty()) presetMenu->addAction(tr("(none saved)"))->setEnabled(false);
    });
    help_mnu = fileMenu_->addAction(tr("&Help"), this, [this] { host_.Help(); });
    help_mnu->setShortcut(QKeySequence(Qt::Key_F1));
    fileMenu_->addSeparator();
    exit_mnu = fileMenu_->addAction(tr("E&xit"), this, [this] { host_.ExitProgram(); });
    batch_mnu->setObjectName(QStringLiteral("batch_mnu"));
    about_mnu->setObjectName(QStringLiteral("about_mnu"));
    help_mnu->setObjectName(QStringLiteral("help_mnu"));
    exit_mnu->setObjectName(QStringLiteral("exit_mnu"));
    viewMenu_ = new QMenu(tr("&View"), this);
    viewMenu_->setObjectName(QStringLiteral("view_mnu"));
    // On, every picture shown carries the marks as they are set, so that
    // what Save As and Copy write is what the user sees; off, only Apply
    // draws them.
    livepreview_mnu = viewMenu_->addAction(tr("&Live preview"));
    livepreview_mnu->setObjectName(QStringLiteral("livepreview_mnu"));
    livepreview_mnu->setCheckable(true);
    livepreview_mnu->setChecked(true);
    connect(livepreview_mnu, &QAction::toggled, this, [this](bool on) {
        if (on) PreviewNow();
    });
    optionsMenu_ = new QMenu(tr("&Options"), this);
    optionsMenu_->setObjectName(QStringLiteral("options_mnu"));
    keepmeta_mnu = optionsMenu_->addAction(tr("Keep photo metadata"));
    keepmeta_mnu->setObjectName(QStringLiteral("keepmeta_mnu"));
    keepmeta_mnu->setCheckable(true);
    keepmeta_mnu->setChecked(true);
    connect(keepmeta_mnu, &QAction::toggled, this, [this](bool on) { state_.KeepMetadata = on; });
    lossless_mnu = optionsMenu_->addAction(tr("JPEG to JPEG: re-encode only under the marks"));
    lossless_mnu->setObjectName(QStringLiteral("lossless_mnu"));
    lossless_mnu->setCheckable(true);
    connect(lossless_mnu, &QAction::toggled, this, [this](bool on) { state_.LosslessJpeg = on; });
    checkmark_mnu = optionsMenu_->addAction(tr("Check for invisible mark..."), this,
                                            &ControlPanel::CheckInvisibleMark);
    checkmark_mnu->setObjectName(QStringLiteral("checkmark_mnu"));
    layout_mnu = optionsMenu_->addAction(tr("&Layout panel"));
    layout_mnu->setObjectName(QStringLiteral("layout_mnu"));
    layout_mnu->setCheckable(true);
    layout_mnu->setChecked(true);
    layout_mnu->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    // Shown from the keyboard, the panel takes the keyboard.
    connect(layout_mnu, &QAction::triggered, this, [this](bool on) {
        if (on) layout_->WatermarkSize->setFocus();
    });
    // The shortcuts work while the panel is active, whichever menu bar shows.
    addActions({batch_mnu, about_mnu, help_mnu, layout_mnu});
    auto* keys = new MenuKeysFirst({batch_mnu, about_mnu, help_mnu, layout_mnu}, this);
    for (QWidget* w : findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
            qobject_cast<QComboBox*>(w))
            w->installEventFilter(keys);
    }
}

void ControlPanel::SetHeightTwips(int twips) {
    heightTwips_ = twips;
    // The heights count the window's title and borders; what is left shows
    // the upper part alone, or with the batch section, and never a sliver
    // of the batch frame below the upper part.
    const int bottom =
        twips >= 6000 ? Frame3D6->geometry().bottom() : MainForm->geometry().bottom();
    setFixedHeight(bottom + FormUnits(font()).Y(60));
    if (QWidget* frame = parentWidget()) frame->adjustSize();
}

void ControlPanel::Form_Load() {
    // Set here, once the panel sits in its window: moving a widget into
    // another window rebuilds its part of the focus chain.
    SetTabOrder();
    if (QWidget* frame = parentWidget())
        frame->move(std::max(0, (host_.WorkAreaWidth() - frame->width()) / 2), 0);
    SetHeightTwips(2520);
    {
        BusyCursor busy;
        wmfont->addItems(FillFontList());
        wmfont->setCurrentIndex(-1);  // no font chosen yet: the text uses Arial
        wmfont->setEditText(QString());
        pcdbase->addItems({QStringLiteral("Base/16"), QStringLiteral("Base/4"),
                           QStringLiteral("Base"), QStringLiteral("Base*4"),
                           QStringLiteral("Base*16")});
        pcdbase->setCurrentText(QStringLiteral("Base"));
        setWindowTitle(tr("Velda control panel"));
        jpegval->setValue(75);
        jpegval_Change();
        LoadSettings();
        SyncClassicControls();
        QApplication::processEvents();
    }
    // Filling the form is no change of a mark: the picture shows as loaded
    // until the user changes something or applies. The program may still
    // set the form up until its event loop runs.
    QTimer::singleShot(0, this, [this] {
        startingUp_ = false;
        // The restored picture with the restored marks, as the next one
        // loaded will show.
        PreviewNow();
    });
}

void ControlPanel::closeEvent(QCloseEvent* event) {
    StopBatchAndWait();
    SaveSettings();
    event->accept();
    host_.ExitProgram();
}

void ControlPanel::batch_mnu_Click() {
    // The picture stays open, moved below the taller panel.
    if (heightTwips_ >= 6000) {
        SetHeightTwips(2410);
        batch_mnu->setText(tr("Batch watermark"));
    } else {
        SetHeightTwips(6600);
        batch_mnu->setText(tr("Remove batch section"));
    }
    host_.PanelResized();
}

void ControlPanel::centre_Click() {
    SyncClassicControls();
}

void ControlPanel::jpegval_Change() {
    jval->setText(QString::number(jpegval->value()));
}

void ControlPanel::mixvalue_Change() {
    state_.MixLevel = mixvalue->value();
    if (Mask_Picbuf.FileName.isEmpty() && Waterm_Picbuf.Yresolution() >= 1) {
        // A mask of the old level would blend at a level no longer shown.
        if (!MakeUniformMask(Mask_Picbuf, Waterm_Picbuf, state_.MixLevel).ok())
            Mask_Picbuf.ClearPicture();
    }
    tval->setText(QString::number(mixvalue->value()));
}

void ControlPanel::wfile_Change() {
    // An empty box means no watermark, as an empty template box means no
    // template.
    if (!wfile->text().trimmed().isEmpty()) return;
    Waterm_Picbuf.ClearPicture();
    if (Mask_Picbuf.FileName.isEmpty()) Mask_Picbuf.ClearPicture();  // the uniform mask
    SchedulePreview();
}

void ControlPanel::tfile_Change() {
    if (!tfile->text().trimmed().isEmpty()) return;
    Mask_Picbuf.FileName.clear();
    Mask_Picbuf.ClearPicture();
    SchedulePreview();
}

}  // namespace velda
