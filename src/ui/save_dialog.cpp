#include "ui/save_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

#include "batch/messages.h"
#include "imaging/loaders.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/twips.h"
#include "ui/window_support.h"

namespace velda {

SaveAsDialog::SaveAsDialog(AppState& state, Prompter& prompter, const QString& loadedFile,
                           QWidget* parent)
    : QDialog(parent), state_(state), prompter_(prompter), loadedFile_(loadedFile) {
    setObjectName(QStringLiteral("Image_Save_Form"));
    setWindowTitle(tr("Save Current Image As..."));
    const FormUnits units(font());
    setFixedSize(units.X(6795), units.Y(3765));

    Frame3D3 = Place<QGroupBox>(this, "Frame3D3", 60, 60, 3975, 3300, tr("Save image file:"));
    FileDrive = Place<DriveList>(Frame3D3, "FileDrive", 120, 270, 3735, 315);
    FileDir = Place<DirectoryList>(Frame3D3, "FileDir", 120, 660, 1800, 2070);
    FileList = Place<FileListBox>(Frame3D3, "FileList", 2040, 660, 1815, 2070);
    FileList->setPattern(QStringLiteral("*.fif;*.jpg"));
    File = Place<QLineEdit>(Frame3D3, "File", 120, 2850, 3735, 315);

    Frame3D4 = Place<QGroupBox>(this, "Frame3D4", 4155, 75, 2535, 3165, tr("Save filetype as:"));
    Frame3D1 = Place<QGroupBox>(Frame3D4, "Frame3D1", 150, 240, 2235, 1395, tr("Image Format:"));
    tga_option =
        Place<QRadioButton>(Frame3D1, "tga_option", 75, 270, 700, 210, QStringLiteral("TGA"));
    JPG_Option =
        Place<QRadioButton>(Frame3D1, "JPG_Option", 795, 270, 700, 210, QStringLiteral("JPG"));
    TIF_Option =
        Place<QRadioButton>(Frame3D1, "TIF_Option", 1515, 270, 560, 210, QStringLiteral("TIF"));
    Bmp_Option =
        Place<QRadioButton>(Frame3D1, "Bmp_Option", 75, 540, 700, 210, QStringLiteral("BMP"));
    PCX_Option =
        Place<QRadioButton>(Frame3D1, "PCX_Option", 795, 540, 700, 210, QStringLiteral("PCX"));
    GIF_Option =
        Place<QRadioButton>(Frame3D1, "GIF_Option", 1515, 540, 700, 210, QStringLiteral("GIF"));
    // The web formats on a row of their own, the modern ones on the next.
    PNG_Option =
        Place<QRadioButton>(Frame3D1, "PNG_Option", 75, 810, 700, 210, QStringLiteral("PNG"));
    WEBP_Option =
        Place<QRadioButton>(Frame3D1, "WEBP_Option", 795, 810, 900, 210, QStringLiteral("WebP"));
    HEIC_Option =
        Place<QRadioButton>(Frame3D1, "HEIC_Option", 75, 1080, 700, 210, QStringLiteral("HEIC"));
    AVIF_Option =
        Place<QRadioButton>(Frame3D1, "AVIF_Option", 795, 1080, 700, 210, QStringLiteral("AVIF"));
    JXL_Option =
        Place<QRadioButton>(Frame3D1, "JXL_Option", 1515, 1080, 700, 210, QStringLiteral("JXL"));
    FIF_option = Place<QRadioButton>(Frame3D1, "FIF_option", 2085, 270, 1200, 210,
                                     QStringLiteral("FIF (Fractal)"));
    // FIF cannot be written, and its button stood outside its frame.
    FIF_option->hide();
    TIF_Option->setChecked(true);
    Frame3D2 = Place<QGroupBox>(Frame3D4, "Frame3D2", 150, 1680, 2235, 540, tr("Colour Depth:"));
    bit24 = Place<QRadioButton>(Frame3D2, "bit24", 75, 240, 750, 210, QStringLiteral("24 Bit"));
    bit8 = Place<QRadioButton>(Frame3D2, "bit8", 825, 240, 675, 210, QStringLiteral("8 Bit"));
    bit4 = Place<QRadioButton>(Frame3D2, "bit4", 1500, 240, 660, 210, QStringLiteral("4 Bit"));
    Place<QLabel>(Frame3D4, "Label1", 150, 2280, 2235, 210, tr("Quality (lossy formats):"));
    jpegval = Place<FocusScrollBar>(Frame3D4, "jpegval", 150, 2520, 2235, 240, Qt::Horizontal);
    jpegval->setToolTip(tr("JPG, WebP, HEIC, AVIF and JXL; 100 is lossless in JXL"));
    jpegval->setRange(0, 100);
    jpegval->setPageStep(5);
    jpegval->setValue(75);
    jpegval->setEnabled(false);
    jpegval->setFocusPolicy(Qt::StrongFocus);
    jpegval->setInvertedControls(false);
    Place<QLabel>(Frame3D4, "Label10", 150, 2790, 400, 210, tr("Low"));
    Place<QLabel>(Frame3D4, "Label9", 1985, 2790, 400, 210, tr("High"));
    jval = Place<QLabel>(Frame3D4, "jval", 900, 2790, 600, 210, QStringLiteral("75"));
    jval->setAlignment(Qt::AlignCenter);
    connect(jpegval, &QScrollBar::valueChanged, jval,
            [this](int v) { jval->setText(QString::number(v)); });
    Ok_Button = Place<QPushButton>(this, "Ok_Button", 4140, 3300, 1215, 375, tr("&Ok"));
    Cancel_Button = Place<QPushButton>(this, "Cancel_Button", 5460, 3300, 1215, 375, tr("&Cancel"));

    for (QRadioButton* option :
         {tga_option, JPG_Option, TIF_Option, Bmp_Option, PCX_Option, GIF_Option, PNG_Option,
          WEBP_Option, HEIC_Option, AVIF_Option, JXL_Option, FIF_option}) {
        connect(option, &QRadioButton::clicked, this, [this, option] { FormatClicked(option); });
    }
    connect(FileDrive, &DriveList::driveChosen, this,
            [this](const QString& root) { FileDir->setPath(root); });
    connect(FileDir, &DirectoryList::pathChanged, FileList, &FileListBox::setPath);
    connect(FileList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { File->setText(item->text()); });
    connect(Ok_Button, &QPushButton::clicked, this, &SaveAsDialog::Ok_Button_Click);
    connect(Cancel_Button, &QPushButton::clicked, this, &SaveAsDialog::Cancel_Button_Click);

    // Until a folder is remembered, the dialog opens where the picture came
    // from rather than beside the program.
    const QString start = loadedFile_.isEmpty() ? QString() : QFileInfo(loadedFile_).absolutePath();
    FileDir->setPath(!start.isEmpty() && QFileInfo(start).isDir() ? start : QDir::currentPath());
    FileDrive->ShowDriveOf(FileDir->path());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }
    LoadSaveAsSettings();
    SuggestName();
}

void SaveAsDialog::SuggestName() {
    if (loadedFile_.isEmpty()) return;
    const QString typed = File->text().trimmed();
    const QString stem = QFileInfo(loadedFile_).completeBaseName();
    // Only the suggestion is renewed: a name the user typed stays.
    if (!typed.isEmpty() && QFileInfo(typed).completeBaseName() != stem) return;
    for (const auto& [button, id] : FormatButtons()) {
        if (button->isChecked() && Format(id).writable()) {
            File->setText(stem + Format(id).extension());
            return;
        }
    }
}

void SaveAsDialog::ChooseDepth(int depth) {
    QRadioButton* wanted = depth == 4 ? bit4 : depth == 8 ? bit8 : bit24;
    if (wanted->isEnabled()) {
        wanted->setChecked(true);
        return;
    }
    for (QRadioButton* b : {bit24, bit8, bit4}) {
        if (b->isEnabled()) {
            b->setChecked(true);
            return;
        }
    }
}

QList<std::pair<QString, QRadioButton*>> SaveAsDialog::ExtraFormats() const {
    // The formats without a key of their own in the Save As section are
    // kept beside it, so that the dialog comes back with the last choice.
    return {
        {QStringLiteral("SaveAsGIF"), GIF_Option},   {QStringLiteral("SaveAsPNG"), PNG_Option},
        {QStringLiteral("SaveAsWebP"), WEBP_Option}, {QStringLiteral("SaveAsHEIC"), HEIC_Option},
        {QStringLiteral("SaveAsAVIF"), AVIF_Option}, {QStringLiteral("SaveAsJXL"), JXL_Option}};
}

QList<std::pair<QRadioButton*, FormatId>> SaveAsDialog::FormatButtons() const {
    // In the order in which the first chosen one wins.
    return {
        {tga_option, FormatId::Targa}, {TIF_Option, FormatId::Tiff},  {PCX_Option, FormatId::Pcx},
        {Bmp_Option, FormatId::Bmp},   {GIF_Option, FormatId::Gif},   {JPG_Option, FormatId::Jpeg},
        {PNG_Option, FormatId::Png},   {WEBP_Option, FormatId::Webp}, {HEIC_Option, FormatId::Heic},
        {AVIF_Option, FormatId::Avif}, {JXL_Option, FormatId::Jxl},   {FIF_option, FormatId::Fif}};
}

void SaveAsDialog::FormatClicked(QRadioButton* option) {
    for (const auto& [button, id] : FormatButtons()) {
        if (button != option) continue;
        const FormatInfo& f = Format(id);
        FileList->setPattern(u'*' + f.endingList().value(0).toUpper());
        // The quality slider serves the formats that take a quality; TIFF
        // and GIF, as they always did, leave it as it was.
        if (f.takesQuality) {
            jpegval->setEnabled(true);
        } else if (id != FormatId::Tiff && id != FormatId::Gif && id != FormatId::Fif) {
            jpegval->setEnabled(false);
        }
        // Depths the format cannot write are greyed, and never the chosen one.
        int chosen = bit4->isChecked() ? 4 : bit8->isChecked() ? 8 : 24;
        bit24->setEnabled(f.writes(24));
        bit8->setEnabled(f.writes(8));
        bit4->setEnabled(f.writes(4));
        if (!f.writes(chosen)) ChooseDepth(chosen);
        jval->setEnabled(jpegval->isEnabled());
    }
    SuggestName();
}

void SaveAsDialog::LoadSaveAsSettings() {
    const QString path = state_.settingsPath;
    if (!FileExists(path)) return;
    auto read = [&path](const char* key) {
        return ReadIniKey(path, kSaveAsSection, QString::fromLatin1(key));
    };
    if (const IniKeyValue v = read("Path"); v.count) FileDir->setPath(v.value);
    auto option = [&](const char* key, QRadioButton* button, bool isFormat) {
        const IniKeyValue v = read(key);
        if (!v.count) return;
        if (DecodeOptionState(v.value)) {
            button->setChecked(true);
            if (isFormat) FormatClicked(button);
        } else if (button->isChecked()) {
            // Clearing one option of a group: Qt keeps one checked unless
            // the group lets go.
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
    };
    option("24bit", bit24, false);
    option("8bit", bit8, false);
    option("4bit", bit4, false);
    if (const auto v = DecodeInteger(read("JPEGValue").value, 0, 100)) jpegval->setValue(*v);
    option("TGAOption", tga_option, true);
    option("TIFOption", TIF_Option, true);
    option("JPGOption", JPG_Option, true);
    option("BMPOption", Bmp_Option, true);
    option("PCXOption", PCX_Option, true);
    // GIF has no key of its own in that section; it is kept beside it, so a
    // dialog after a GIF save comes back with GIF chosen.
    for (const auto& [key, button] : ExtraFormats()) {
        if (ReadIniKey(path, kOptionsSection, key).value == u"True") {
            button->setChecked(true);
            FormatClicked(button);
        }
    }
}

void SaveAsDialog::SaveSaveAsSettings() {
    SaveAsSettings s;
    s.Path = FileList->path();
    s.JPEGValue = jpegval->value();
    s.bit24 = bit24->isChecked();
    s.bit8 = bit8->isChecked();
    s.bit4 = bit4->isChecked();
    s.TGAOption = tga_option->isChecked();
    s.TIFOption = TIF_Option->isChecked();
    s.JPGOption = JPG_Option->isChecked();
    s.BMPOption = Bmp_Option->isChecked();
    s.PCXOption = PCX_Option->isChecked();
    WriteSaveAsSettings(state_.settingsPath, s);
    for (const auto& [key, button] : ExtraFormats())
        WriteIniKey(state_.settingsPath, kOptionsSection, key,
                    EncodeBooleanWord(button->isChecked()));
}

void SaveAsDialog::Ok_Button_Click() {
    const QString n = File->text().trimmed();
    if (n.isEmpty()) {
        prompter_.Message(tr("Please enter a filename"), Prompter::Icon::Critical,
                          Prompter::Buttons::Ok);
        return;
    }
    const auto formats = FormatButtons();
    if (std::none_of(formats.begin(), formats.end(), [](const auto& b) {
            return b.first->isChecked() && Format(b.second).writable();
        })) {
        prompter_.Message(tr("Please choose the file type to save as"), Prompter::Icon::Critical,
                          Prompter::Buttons::Ok);
        return;
    }
    SaveRequestRecord& r = state_.SaveRequest;
    const QString d = FileList->path().trimmed();
    // A full path typed into the box is that path.
    r.FileName = QDir::isAbsolutePath(n) ? n : (d.endsWith(u'/') ? d + n : d + u'/' + n);
    if (bit24->isChecked()) {
        r.Depth = 24;
    } else if (bit8->isChecked()) {
        r.Depth = 8;
    } else if (bit4->isChecked()) {
        r.Depth = 4;
    }
    r.JpegQuality = jpegval->value();
    QString extension;
    for (const auto& [button, id] : FormatButtons()) {
        if (!button->isChecked() || !Format(id).writable()) continue;
        r.FormatCode = Format(id).code;
        extension = Format(id).extension();
        if (!Format(id).writes(8)) r.Depth = 24;  // no palette form
        break;
    }
    if (!r.FileName.contains(u'.')) r.FileName += extension;
    // Nothing is replaced unasked, least of all the picture being worked on.
    if (QFileInfo::exists(r.FileName)) {
        QString question =
            r.FileName + QStringLiteral(" already exists. Do you want to replace it?");
        if (!loadedFile_.isEmpty() && QFileInfo(r.FileName).canonicalFilePath() ==
                                          QFileInfo(loadedFile_).canonicalFilePath()) {
            question +=
                QStringLiteral("\rIt is the picture you loaded: the original would be lost.");
        }
        if (!prompter_.Message(question, Prompter::Icon::Exclamation, Prompter::Buttons::YesNo))
            return;
    }
    r.Confirmed = true;
    if (save && !save()) {
        r.Confirmed = false;
        return;  // open still, the message said why
    }
    // Opened next time in the folder saved to.
    if (const QString folder = QFileInfo(r.FileName).absolutePath(); folder != FileList->path())
        FileDir->setPath(folder);
    accept();
}

void SaveAsDialog::Cancel_Button_Click() {
    state_.SaveRequest.Confirmed = false;
    reject();
}

void SaveAsDialog::done(int result) {
    // However the dialog closes, its choices are kept for next time.
    if (!saved_) {
        saved_ = true;
        SaveSaveAsSettings();
    }
    QDialog::done(result);
}

namespace {

// The loaded JPEG with its marks redrawn under them alone, written to the
// chosen name. False when the shown picture must be encoded instead: the
// file is no JPEG, cannot keep its blocks, or is no longer there as it was
// loaded.
bool SaveKeepingBlocks(const QString& loadedFile, const RegionMarks& marks, QSize shown,
                       const QString& target, bool keepMetadata, Status* status) {
    QByteArray data;
    JpegRemark remark;
    if (!ReadPictureFile(loadedFile, &data).ok() ||
        !RemarkJpegData(data, marks, keepMetadata, {}, &remark).ok() || remark.file.isEmpty()) {
        return false;
    }
    const QSize stored(remark.width, remark.height);
    if (stored != shown && stored.transposed() != shown) return false;
    *status = WriteFileAtomically(target, remark.file, false);
    return true;
}

}  // namespace

QString SaveResultAs(const Picbuf& full, AppState& state, Prompter& prompter,
                     const QString& loadedFile, QWidget* parent, const RegionMarks* loadedMarks,
                     bool invisibleMarked) {
    SaveAsDialog dialog(state, prompter, loadedFile, parent);
    dialog.ChooseDepth(full.ColorDepth() == 32 ? 24 : full.ColorDepth());
    SaveRequestRecord& r = state.SaveRequest;
    r.Confirmed = false;
    // Written while the dialog is open: a failure leaves it open, with the
    // message, to choose another name or place.
    dialog.save = [&] {
        BusyCursor busy;
        Status s;
        const FormatInfo* format = FormatWithCode(r.FormatCode);
        if (!format) {
            s = Status::Error(ErrorCode::BadArgument,
                              QStringLiteral("format code %1").arg(r.FormatCode));
        } else if (invisibleMarked && WritableDepth(*format, r.Depth) < 24) {
            s = Status::Error(ErrorCode::BadArgument, messages::kInvisibleNeedsTrueColour);
        } else if (!(state.LosslessJpeg && format->id == FormatId::Jpeg && loadedMarks &&
                     !loadedFile.isEmpty() &&
                     SaveKeepingBlocks(loadedFile, *loadedMarks, full.image().size(), r.FileName,
                                       state.KeepMetadata, &s))) {
            // The file gets the chosen depth; the shown picture, and so the
            // next save or Copy, keeps its own.
            WriteOptions write;
            write.depth = r.Depth;
            write.quality = r.JpegQuality;
            write.keepMetadata = state.KeepMetadata;
            s = WritePicture(full.picture(), *format, r.FileName, write);
        }
        if (s.ok()) return true;
        QApplication::restoreOverrideCursor();
        prompter.Message(messages::ImageSaveError(s), Prompter::Icon::Critical,
                         Prompter::Buttons::Ok);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        return false;
    };
    dialog.exec();
    return r.Confirmed ? r.FileName : QString();
}

}  // namespace velda
