// Save As, the batch section and settings across a restart, through the
// real widgets; questions answered by a scripted prompter.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/main_window.h"
#include "batch/messages.h"
#include "imaging/codec.h"
#include "imaging/picture_io.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/layout_panel.h"
#include "ui/result_window.h"
#include "ui/save_dialog.h"
#include "window_test.h"

using namespace Qt::StringLiterals;

namespace velda {

class SaveAndBatchTest : public WindowTest {
    Q_OBJECT

  private:
    QString Path(const QString& name) { return dir_.filePath(name); }
    QString Picture(const QString& name, int w = 60, int h = 40) {
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixel(x, y, qRgb(x * 4, y * 6, (x * y) & 255));
        QDir().mkpath(QFileInfo(Path(name)).path());
        img.save(Path(name));
        return Path(name);
    }
    int Depth(const QString& file) {
        const QByteArray data = ReadAll(file);
        HeaderInfo h;
        return ReadHeader(SniffFormat(data, file), data, 3, &h).ok() ? h.depth : -1;
    }
    // Answers the next Save As dialog with fill, then Ok.
    void AnswerSaveAs(std::function<void(SaveAsDialog*)> fill) {
        QTimer::singleShot(0, this, [fill] {
            auto* dialog = qobject_cast<SaveAsDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            fill(dialog);
        });
    }

  private slots:
    void init() {
        QFile::remove(Path(u"velda.ini"_s));
        prompter_ = ScriptedPrompter();
        Start();
    }
    void cleanup() { main_.reset(); }

    void saveAsComposesTheNameAndFormat() {
        SaveAsDialog dialog(state_, prompter_);
        dialog.FileDir->setPath(dir_.path());
        dialog.File->setText(u"   "_s);
        dialog.Ok_Button_Click();
        QCOMPARE(prompter_.shown.last(), u"Please enter a filename"_s);
        QVERIFY(!state_.SaveRequest.Confirmed);

        // A name without a dot gets the format's extension (a folder's dot
        // does not count); JPEG and WebP are always 24 bits, with quality.
        QDir().mkpath(Path(u"my.pics"_s));
        const QString d = dir_.path();
        const struct {
            QString folder;
            const char* typed;
            QRadioButton* SaveAsDialog::*format;
            QString file;
            int code, depth;
            bool quality;
        } cases[] = {
            {d, "pic", &SaveAsDialog::JPG_Option, d + u"/pic.jpg"_s, 7, 24, true},
            {u"/"_s, "pic", &SaveAsDialog::tga_option, u"/pic.tga"_s, 2, 8, false},
            {Path(u"my.pics"_s), "pic", &SaveAsDialog::GIF_Option, Path(u"my.pics/pic"_s), 4, 8,
             false},
            {d, "pic.bmp", &SaveAsDialog::JPG_Option, d + u"/pic.bmp"_s, 7, 24, true},
            {d, "web", &SaveAsDialog::PNG_Option, d + u"/web.png"_s, Format(FormatId::Png).code, 8,
             false},
            {d, "web", &SaveAsDialog::WEBP_Option, d + u"/web.webp"_s, Format(FormatId::Webp).code,
             24, true},
        };
        for (const auto& c : cases) {
            SaveAsDialog one(state_, prompter_);
            one.FileDir->setPath(c.folder);
            one.File->setText(QLatin1String(c.typed));
            QTest::mouseClick(one.*c.format, Qt::LeftButton);
            one.bit8->setChecked(true);
            if (c.code != 4) QCOMPARE(one.jpegval->isEnabled(), c.quality);
            one.Ok_Button_Click();
            QCOMPARE(state_.SaveRequest.FileName, c.file);
            QCOMPARE(state_.SaveRequest.FormatCode, c.code);
            QCOMPARE(state_.SaveRequest.Depth, c.depth);
        }
    }

    void saveAsWritesTheShownPictureAndCancelWritesNothing() {
        panel()->ofile->setText(Picture(u"photo.png"_s));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        ResultWindow* result = main_->ExistingResult();
        QVERIFY(result);

        AnswerSaveAs([this](SaveAsDialog* d) {
            QVERIFY(d->bit24->isChecked());  // preset from the picture
            d->FileDir->setPath(dir_.path());
            d->File->setText(u"out"_s);
            QTest::mouseClick(d->TIF_Option, Qt::LeftButton);
            d->bit8->setChecked(true);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(QFile::exists(Path(u"out.tif"_s)));
        QCOMPARE(Depth(Path(u"out.tif"_s)), 8);
        // The shown picture keeps its colours: only the file was reduced.
        QCOMPARE(result->Full_Picbuf.ColorDepth(), 24);
        QCOMPARE(result->Full_Picbuf.image(), result->Copy_Picbuf.image());

        AnswerSaveAs([this](SaveAsDialog* d) {
            QVERIFY(d->bit24->isChecked());       // preset from the picture again
            QVERIFY(d->TIF_Option->isChecked());  // remembered
            d->File->setText(u"again"_s);
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QCOMPARE(Depth(Path(u"again.jpg"_s)), 24);

        AnswerSaveAs([](SaveAsDialog* d) {
            d->File->setText(u"never"_s);
            QTest::mouseClick(d->Cancel_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(!QFile::exists(Path(u"never.jpg"_s)));
        QCOMPARE(ReadIniKey(state_.settingsPath, kSaveAsSection, u"JPGOption"_s).value, u"-1"_s);

        // A restored JPG choice with 8 bits shows JPG and 24 bits.
        WriteIniKey(state_.settingsPath, kSaveAsSection, u"8bit"_s, u"-1"_s);
        WriteIniKey(state_.settingsPath, kSaveAsSection, u"24bit"_s, u"0"_s);
        SaveAsDialog restored(state_, prompter_);
        QVERIFY(restored.JPG_Option->isChecked() && restored.bit24->isChecked() &&
                restored.jpegval->isEnabled());
        QCOMPARE(restored.FileList->path(), dir_.path());
    }

    void saveAsAsksBeforeReplacingAndSaysWhy() {
        const QString photo = Path(u"keep.jpg"_s);
        QVERIFY(QImage(Picture(u"keep.png"_s)).save(photo, "JPEG"));
        const QByteArray original = ReadAll(photo);
        panel()->ofile->setText(photo);
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        ResultWindow* result = main_->ExistingResult();
        QVERIFY(result);

        // First use opens in the photo's folder; its own name is asked
        // about, and No goes back to the dialog with nothing written.
        bool stillOpen = false;
        prompter_.answers = {false};
        AnswerSaveAs([&](SaveAsDialog* d) {
            QCOMPARE(d->FileList->path(), dir_.path());
            d->File->setText(u"keep.jpg"_s);
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
            stillOpen = d->isVisible();
            QTest::mouseClick(d->Cancel_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(stillOpen);
        QCOMPARE(prompter_.shown.last(),
                 photo + QStringLiteral(" already exists. Do you want to replace it?\rIt is the "
                                        "picture you loaded: the original would be lost."));
        QCOMPARE(ReadAll(photo), original);

        // A full path typed into the box is that path; Yes replaces.
        const QString other = Path(u"elsewhere/other.jpg"_s);
        QDir().mkpath(Path(u"elsewhere"_s));
        WriteAll(other, "old");
        prompter_.answers = {true};
        AnswerSaveAs([&](SaveAsDialog* d) {
            d->File->setText(other);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QCOMPARE(prompter_.shown.last(), other + u" already exists. Do you want to replace it?"_s);
        QVERIFY(ReadAll(other).startsWith("\xFF\xD8"));

        // After a GIF, PNG, WebP, HEIC, AVIF or JPEG XL save the dialog
        // comes back with that format chosen, and saves a file of that kind.
        const std::tuple<QRadioButton * SaveAsDialog::*, const char*, FormatId> kept[] = {
            {&SaveAsDialog::GIF_Option, "GIF", FormatId::Gif},
            {&SaveAsDialog::PNG_Option, "PNG", FormatId::Png},
            {&SaveAsDialog::WEBP_Option, "WEBP", FormatId::Webp},
            {&SaveAsDialog::HEIC_Option, "HEIC", FormatId::Heic},
            {&SaveAsDialog::AVIF_Option, "AVIF", FormatId::Avif},
            {&SaveAsDialog::JXL_Option, "JXL", FormatId::Jxl}};
        for (const auto& [format, kind, id] : kept) {
            for (const char* name : {"one", "two"}) {
                AnswerSaveAs([&](SaveAsDialog* d) {
                    if (QLatin1String(name) == u"two") QVERIFY((d->*format)->isChecked());
                    d->FileDir->setPath(dir_.path());
                    d->File->setText(QLatin1String(kind) + QLatin1String(name));
                    QTest::mouseClick(d->*format, Qt::LeftButton);
                    QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
                });
                emit result->saveRequested();
            }
            const QString two =
                Path(QLatin1String(kind) + u"two."_s + QString::fromLatin1(kind).toLower());
            QVERIFY2(SniffFormat(ReadAll(two), QString()) == id, kind);
        }
        QVERIFY(!prompter_.shown.last().startsWith(u"Error"_s));

        // A failure gives the number and what it means, and keeps the
        // dialog open to choose again; a save is confirmed in the status line.
        AnswerSaveAs([&](SaveAsDialog* d) {
            d->File->setText(Path(u"no/such/dir/x.jpg"_s));
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
            QVERIFY(prompter_.shown.last().startsWith(
                u"Error saving image. Error: 7\rfile could not be written"_s));
            QVERIFY(d->isVisible());
            d->File->setText(Path(u"x.jpg"_s));
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(QFileInfo(Path(u"x.jpg"_s)).isFile());
        QCOMPARE(main_->statusBar()->currentMessage(), u"Saved "_s + Path(u"x.jpg"_s));
    }

    void emptyWatermarkBoxMeansNoWatermark() {
        panel()->ofile->setText(Picture(u"black.png"_s, 40, 30));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        QImage white(10, 10, QImage::Format_RGB32);
        white.fill(qRgb(255, 255, 255));
        white.save(Path(u"white.png"_s));
        panel()->wfile->setText(Path(u"white.png"_s));
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        panel()->mixvalue->setValue(255);
        panel()->ipix->setChecked(true);
        panel()->wx->setText(u"0"_s);
        panel()->wy->setText(u"0"_s);
        panel()->ApplyStuff_Click();
        QCOMPARE(main_->ExistingResult()->Full_Picbuf.image().pixel(2, 2), qRgb(255, 255, 255));
        panel()->wfile->clear();
        panel()->ApplyStuff_Click();
        QVERIFY(main_->ExistingResult()->Full_Picbuf.image().pixel(2, 2) != qRgb(255, 255, 255));
        QVERIFY(panel()->MakeBatchJob()->watermark.isNull());
    }

    // The desktop batch and velda-batch read one velda.ini the same way: on
    // a fresh panel, with neither text unit chosen, the results are equal
    // byte for byte; so are the desktop's settings saved as a preset and
    // run by velda-batch later, whatever the file's own settings are then.
    void desktopBatchAndVeldaBatchGiveTheSameFile() {
        Picture(u"same/photo.png"_s, 200, 120);
        QImage wm(30, 20, QImage::Format_RGB32);
        wm.fill(qRgb(250, 250, 0));
        wm.save(Path(u"logo.png"_s));
        panel()->wfile->setText(Path(u"logo.png"_s));
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        panel()->CopyText->setPlainText(u"Velda"_s);
        panel()->tx->setText(u"30"_s);
        panel()->ty->setText(u"40"_s);
        panel()->ts->setText(u"15"_s);
        panel()->wmfont->setCurrentText(u"DejaVu Sans"_s);
        QVERIFY(!panel()->tpix->isChecked() && !panel()->tper->isChecked());
        const QString desk = Path(u"desk"_s), cli = Path(u"cli"_s);
        QDir().mkpath(desk);
        QDir().mkpath(cli);
        QTest::mouseClick(panel()->All_Option, Qt::LeftButton);
        panel()->InputDir->setPath(Path(u"same"_s));
        panel()->OutputDir->setPath(desk);
        panel()->InputFile->item(0)->setSelected(true);
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        auto same = [&](const QString& name, const QStringList& options) {
            QProcess p;
            p.start(QCoreApplication::applicationDirPath() + u"/velda-batch"_s,
                    QStringList{u"--settings"_s, state_.settingsPath, u"-q"_s} + options +
                        QStringList{Path(u"same"_s), cli, u"photo.png"_s});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            const QByteArray desktop = ReadAll(desk + u'/' + name);
            QVERIFY(!desktop.isEmpty());
            QVERIFY(desktop == ReadAll(cli + u'/' + name));
        };
        same(u"photo.jpg"_s, {});

        panel()->ResizeBox->setText(u"width:100"_s);
        panel()->NameBox->setText(u"{name}-{width}"_s);
        panel()->Layout()->Anchor->setCurrentIndex(9);
        panel()->Layout()->WatermarkSize->setValue(25);
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(QFile::exists(desk + u"/photo-100.jpg"_s));
        prompter_.typed = u"web"_s;
        panel()->savepreset_mnu->trigger();
        panel()->ResizeBox->clear();
        panel()->NameBox->clear();
        panel()->Layout()->Anchor->setCurrentIndex(0);
        panel()->CopyText->setPlainText(u"other"_s);
        panel()->SaveSettings();
        same(u"photo-100.jpg"_s, {u"--preset=web"_s});
        // Loaded in the desktop program, the preset sets the controls back.
        panel()->LoadPreset(u"web"_s);
        QCOMPARE(panel()->ResizeBox->text(), u"width:100"_s);
        QCOMPARE(panel()->CopyText->toPlainText(), u"Velda"_s);
        QCOMPARE(panel()->Layout()->Anchor->currentIndex(), 9);
    }

    void saveAsKeepsTheLoadedJpegsBlocksWhenAsked() {
        // A real photo; the option is ticked in the menu and kept in velda.ini.
        const QString photo = Path(u"photo.jpg"_s);
        QProcess crop;
        crop.start(u"/usr/bin/python3"_s,
                   {u"-c"_s,
                    QStringLiteral("import sys\nfrom PIL import Image\n"
                                   "Image.open(sys.argv[1]).crop((0, 0, 480, 320))"
                                   ".save(sys.argv[2], quality=93)"),
                    u"/usr/share/backgrounds/Bridge_by_Sander_Klootwijk.jpg"_s, photo});
        QVERIFY(crop.waitForFinished() && crop.exitCode() == 0);
        QVERIFY(!panel()->lossless_mnu->isChecked());
        panel()->lossless_mnu->trigger();
        QVERIFY(state_.LosslessJpeg);
        panel()->ofile->setText(photo);
        panel()->CopyText->setPlainText(u"mark"_s);
        panel()->tx->setText(u"10"_s);
        panel()->ty->setText(u"10"_s);
        panel()->ts->setText(u"40"_s);
        panel()->ApplyStuff_Click();
        QCOMPARE(ReadIniKey(Path(u"velda.ini"_s), kOptionsSection, u"LosslessJpeg"_s).value,
                 u"True"_s);
        AnswerSaveAs([this](SaveAsDialog* d) {
            d->FileDir->setPath(dir_.path());
            d->File->setText(u"blocks"_s);
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            d->jpegval->setValue(10);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit main_->ExistingResult()->saveRequested();
        QVERIFY(prompter_.shown.isEmpty());

        // The source's tables, not the dialog's quality; the text is there,
        // and the far corner is the source's very pixels.
        const QString kept = Path(u"blocks.jpg"_s);
        QProcess q;
        q.start(u"identify"_s, {u"-format"_s, u"%Q"_s, kept});
        QVERIFY(q.waitForFinished());
        QCOMPARE(q.readAllStandardOutput(), QByteArray("93"));
        const QImage source(photo), result(kept),
            shown = main_->ExistingResult()->Full_Picbuf.image();
        QCOMPARE(result.size(), source.size());
        QCOMPARE(result.copy(240, 160, 240, 160), source.copy(240, 160, 240, 160));
        QVERIFY(result.copy(0, 0, 240, 160) != source.copy(0, 0, 240, 160));
        double error = 0;
        for (int y = 0; y < 160; ++y)
            for (int x = 0; x < 240; ++x)
                error += std::abs(qGray(result.pixel(x, y)) - qGray(shown.pixel(x, y)));
        QVERIFY2(error / (240 * 160) < 3, qPrintable(QString::number(error / (240 * 160))));
    }

    void formatOptionsFilterTheInputList() {
        QDir().mkpath(Path(u"list"_s));
        for (const char* n : {"a.jpg", "b.PNG", "c.gif", "d.pcd", "e.txt", ".hidden.jpg", "f.JPEG",
                              "g.tiff", "h.webp"})
            WriteAll(Path(u"list/"_s + QString::fromLatin1(n)), {});
        panel()->InputDir->setPath(Path(u"list"_s));
        // Every spelling of every kind we read, in any letter case.
        QCOMPARE(panel()->InputFile->count(), 7);
        QTest::mouseClick(panel()->JPG_Option, Qt::LeftButton);
        QCOMPARE(panel()->InputFile->count(), 2);
        QTest::mouseClick(panel()->All_Option, Qt::LeftButton);
        QCOMPARE(panel()->InputFile->count(), 7);
        QTest::mouseClick(panel()->Option3D1, Qt::LeftButton);
        QCOMPARE(panel()->InputFile->count(), 1);
        QCOMPARE(panel()->InputFile->item(0)->text(), u"d.pcd"_s);
        QCOMPARE(panel()->pcdbase->currentText(), u"Base"_s);
    }

    void batchFromTheWindowInListAndTreeMode() {
        Picture(u"in/one.png"_s);
        Picture(u"in/two.png"_s);
        Picture(u"in/sub/three.png"_s);
        const QString out = Path(u"out"_s);
        panel()->CopyText->setPlainText(u"(c)"_s);
        QTest::mouseClick(panel()->All_Option, Qt::LeftButton);
        panel()->InputDir->setPath(Path(u"in"_s));
        panel()->OutputDir->setPath(dir_.path());
        QDir().mkpath(out);
        panel()->OutputDir->setPath(out);
        panel()->InputFile->item(1)->setSelected(true);  // two.png
        prompter_.answers = {true};
        QTest::mouseClick(panel()->Start, Qt::LeftButton);
        QVERIFY(!panel()->Start->isEnabled());
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(panel()->Start->isEnabled());
        QCOMPARE(prompter_.shown.last(), u"1 files processed."_s);
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{u"two.jpg"_s});
        QVERIFY(prompter_.shown.at(prompter_.shown.size() - 2)
                    .startsWith(QStringLiteral(
                        "You have selected to watermark the selected files from, ")));

        // Tree mode, answered No: nothing written, and the refusal stands
        // alone, with no count and no full bar after it.
        panel()->SubCheck->setChecked(true);
        QTest::mouseClick(panel()->GIFO, Qt::LeftButton);
        prompter_.answers = {false};
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(prompter_.shown.last().startsWith(messages::kConfirmTree));
        QCOMPARE(panel()->batchProgress->value(), 0);
        prompter_.answers = {true};
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QCOMPARE(prompter_.shown.last(), u"3 files processed."_s);
        QCOMPARE(QDir(out).entryList({u"*.gif"_s}, QDir::Files).size(), 3);
        QVERIFY(QFile::exists(state_.settingsPath));  // Start saves the settings first

        // A result written with a remark says so in the report.
        panel()->SubCheck->setChecked(false);
        panel()->Layout()->TextSize->setValue(1);  // 1 % of 40 pixels: too small to read
        panel()->InputFile->item(0)->setSelected(true);
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY2(prompter_.shown.last().contains(
                     u"\rWritten with a remark:\r"_s + Path(u"in/one.png"_s) +
                     u": note: text left out: under 8 pixels at this picture's size"_s),
                 qPrintable(prompter_.shown.last()));

        // A format with no palette offers no palette depth; its results
        // are true colour.
        panel()->Layout()->TextSize->setValue(0);
        panel()->bit8->setChecked(true);
        QTest::mouseClick(panel()->AVIFO, Qt::LeftButton);
        QVERIFY(panel()->bit24->isChecked());
        QVERIFY(!panel()->bit8->isEnabled() && !panel()->bit4->isEnabled());
        panel()->InputFile->item(0)->setSelected(true);
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(SniffFormat(ReadAll(out + u"/one.avif"_s), QString()) == FormatId::Avif);
        QTest::mouseClick(panel()->GIFO, Qt::LeftButton);
        QVERIFY(panel()->bit8->isEnabled());
    }

    void cancelStopsBetweenFilesWithoutAReport() {
        for (int i = 0; i < 8; ++i)
            Picture(u"many/p%1.png"_s.arg(i), 1200, 900);
        const QString out = Path(u"many-out"_s);
        QDir().mkpath(out);
        panel()->CopyText->setPlainText(u"x"_s);
        panel()->InputDir->setPath(Path(u"many"_s));
        panel()->OutputDir->setPath(out);
        panel()->SubCheck->setChecked(true);
        // Yes to the confirmation, and Cancel at once.
        prompter_.onMessage = [this](const QString& text) {
            if (text.startsWith(u"You have selected"_s)) panel()->Command3D1_Click();
        };
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        const int written = static_cast<int>(QDir(out).entryList(QDir::Files).size());
        QVERIFY(written < 8);
        // A short summary of what was written before the stop.
        QCOMPARE(prompter_.shown.last(), messages::StoppedSummary(written));
        QVERIFY(panel()->Compress_Number->text().isEmpty());
    }

    void settingsRoundTripAndRememberedPictures() {
        const QString wm = Picture(u"wm.png"_s, 20, 10);
        const QString main = Picture(u"main.png"_s);
        panel()->ofile->setText(main);
        panel()->wfile->setText(wm);
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        panel()->InputDir->setPath(dir_.path());
        panel()->OutputDir->setPath(Path(u".."_s));
        panel()->mixvalue->setValue(42);
        main_->close();
        Start();
        QCOMPARE(panel()->mixvalue->value(), 42);
        QCOMPARE(panel()->InputFile->path(), dir_.path());
        QCOMPARE(panel()->OutputDir->path(), QDir::cleanPath(Path(u".."_s)));
        QVERIFY(main_->ExistingResult() &&
                main_->ExistingResult()->Full_Picbuf.Xresolution() == 60);
        QCOMPARE(panel()->Waterm_Picbuf.Xresolution(), 20);

        // The remembered main picture deleted: the box comes up empty, the rest loads.
        main_->close();
        QFile::remove(main);
        Start();
        QVERIFY(panel()->ofile->text().isEmpty());
        QCOMPARE(panel()->mixvalue->value(), 42);
        QCOMPARE(panel()->Waterm_Picbuf.Xresolution(), 20);

        // A remembered main picture that fails to load: after the message
        // its box is emptied and everything else is restored, so closing
        // keeps the user's setup.
        WriteAll(main, "junk");
        WriteIniKey(state_.settingsPath, kMainSection, u"OrigFile"_s, main);
        main_.reset();
        Start();
        QVERIFY(prompter_.shown.last().startsWith(u"Error loading image error number - 2\r"_s));
        QVERIFY(panel()->ofile->text().isEmpty());
        QCOMPARE(panel()->mixvalue->value(), 42);
        QCOMPARE(panel()->Waterm_Picbuf.Xresolution(), 20);
        main_->close();
        QCOMPARE(ReadIniKey(state_.settingsPath, kMainSection, u"WaterMarkFile"_s).value, wm);

        // Bad settings files never stop the program.
        for (const QByteArray& bad :
             {QByteArray("\x00\xff\xfe garbage [[[ = ="),
              QByteArray("[MainVeldaDetails]\nMixValue=99999999999\nInputDir=/no/such\n"),
              QByteArray(100000, 'x')}) {
            WriteAll(state_.settingsPath, bad);
            main_.reset();
            Start();
            QCOMPARE(panel()->mixvalue->value(), 70);
        }
    }
};

}  // namespace velda

QTEST_MAIN(velda::SaveAndBatchTest)
#include "save_and_batch_test.moc"
