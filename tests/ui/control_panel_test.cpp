// The desktop program through its real widgets, headless; questions and
// file dialogs answered by a scripted prompter.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/main_window.h"
#include "settings/ini_file.h"
#include "settings/presets.h"
#include "settings/section_settings.h"
#include "settings/settings.h"
#include "ui/result_window.h"
#include "ui/twips.h"
#include "window_test.h"

using namespace Qt::StringLiterals;

namespace velda {

class ControlPanelTest : public WindowTest {
    Q_OBJECT

  private:
    QStringList captions_;

    QString Path(const char* name) { return dir_.filePath(QString::fromLatin1(name)); }
    QString Picture(const char* name, int w, int h, QRgb colour) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = Path(name);
        img.save(path);
        return path;
    }
    // A fresh prompter, and the captions the main window shows from here.
    void Start() {
        prompter_ = ScriptedPrompter();
        WindowTest::Start();
        connect(main_.get(), &QWidget::windowTitleChanged, this,
                [this](const QString& t) { captions_.append(t); });
        main_->setWindowTitle(u"Velda Watermarking System v1.40"_s);
        captions_.clear();
    }
    ResultWindow* Result() { return main_->ExistingResult(); }

  private slots:
    void init() {
        QFile::remove(Path("velda.ini"));
        Start();
    }
    void cleanup() { main_.reset(); }

    void startsWithTheFormsValuesWithoutASettingsFile() {
        QCOMPARE(panel()->mixvalue->value(), 70);
        QCOMPARE(panel()->tval->text(), u"70"_s);
        QCOMPARE(state_.MixLevel, 70);
        QCOMPARE(panel()->jval->text(), u"75"_s);
        QCOMPARE(panel()->pcdbase->currentText(), u"Base"_s);
        QVERIFY(panel()->wx->isEnabled());  // matches the unticked centre box
        QVERIFY(!panel()->ipix->isChecked() && !panel()->Iper->isChecked());
        QCOMPARE(panel()->Textclr->text(), u"10"_s);
        QVERIFY(panel()->wmfont->findText(u"DejaVu Sans"_s) >= 0);
        QCOMPARE(panel()->HeightTwips(), 2520);
        QVERIFY(!QFile::exists(Path("velda.ini")));
        panel()->centre->setChecked(true);
        QVERIFY(!panel()->wx->isEnabled());
        panel()->centre->setChecked(false);
        QVERIFY(panel()->wx->isEnabled() && panel()->wy->isEnabled());
    }

    void batchToggleResizesRenamesAndKeepsThePictureInSight() {
        panel()->ofile->setText(Picture("main.png", 64, 48, qRgb(0, 0, 0)));
        panel()->ApplyStuff_Click();
        QVERIFY(Result());
        panel()->batch_mnu->trigger();
        QCOMPARE(panel()->HeightTwips(), 6600);
        QCOMPARE(panel()->batch_mnu->text(), u"Remove batch section"_s);
        // The whole batch section shows, and nothing of it in the compact form.
        QVERIFY(panel()->rect().contains(panel()->Frame3D6->geometry()));
        // The picture stays open, below the panel rather than under it.
        QApplication::processEvents();
        QVERIFY(Result());
        QVERIFY(Result()->parentWidget()->geometry().top() >
                panel()->parentWidget()->geometry().bottom());
        panel()->batch_mnu->trigger();
        QCOMPARE(panel()->HeightTwips(), 2410);
        QVERIFY(panel()->height() <= panel()->Frame3D6->geometry().top());
        QCOMPARE(panel()->batch_mnu->text(), u"Batch watermark"_s);
        QVERIFY(panel()->Frame3D6->findChild<QPushButton*>(u"Start"_s));
    }

    void transparencyRemakesTheUniformMaskOnlyWithoutATemplate() {
        panel()->mixvalue->setValue(90);
        QCOMPARE(state_.MixLevel, 90);
        QVERIFY(!panel()->Mask_Picbuf.HasPicture());  // no watermark: nothing to remake

        panel()->LoadWatermarkFile(Picture("wm.png", 30, 20, qRgb(255, 255, 255)));
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(90, 90, 90));
        panel()->mixvalue->setValue(200);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(29, 19), qRgb(200, 200, 200));
        QCOMPARE(panel()->tval->text(), u"200"_s);

        const QString tmpl = Picture("mask.png", 30, 20, qRgb(10, 10, 10));
        panel()->tfile->setText(tmpl);
        QTest::keyClick(panel()->tfile, Qt::Key_Return);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(10, 10, 10));
        panel()->mixvalue->setValue(50);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(10, 10, 10));

        panel()->tfile->setText(u"   "_s);  // clearing unloads the template
        QVERIFY(!panel()->Mask_Picbuf.HasPicture());
        panel()->mixvalue->setValue(60);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(60, 60, 60));
    }

    void loadersSetCaptionsAndSayWhatFailed() {
        const QString main = Picture("photo.png", 120, 80, qRgb(20, 40, 60));
        QVERIFY(panel()->LoadMainFile(main));
        QVERIFY(captions_.contains(u"Loading main file to watermark...."_s));
        QCOMPARE(main_->windowTitle(), u"Velda Watermarking System v1.40"_s);
        const QString expected = u"Image to Watermark: "_s + main +
                                 u" - (120 x 80 - 24 BPP, Size - "_s +
                                 QString::number(QFileInfo(main).size()) + u" bytes)"_s;
        QCOMPARE(Result()->parentWidget()->windowTitle(), expected);
        QVERIFY(prompter_.shown.isEmpty());

        const QString junk = Path("junk.jpg");
        WriteAll(junk, "no picture here");
        QVERIFY(!panel()->LoadMainFile(junk));
        // The number, and what it means on the next line.
        QCOMPARE(prompter_.shown.last(),
                 QStringLiteral("Error loading image error number - 2\rnot a picture in a known "
                                "format"));
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Critical);
        QTRY_VERIFY(!Result());

        panel()->LoadWatermarkFile(junk);
        QVERIFY(captions_.contains(u"Loading watermark file...."_s));
        QCOMPARE(prompter_.shown.last(),
                 u"Error loading watermark image ("_s + junk +
                     QStringLiteral("), Check format/file is ok. Error - 2 Watermarking will be "
                                    "disabled\rnot a picture in a known format"));
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Exclamation);

        const int shown = static_cast<int>(prompter_.shown.size());
        panel()->LoadWatermarkFile(Path("missing.png"));  // silently
        QCOMPARE(prompter_.shown.size(), shown);
        QVERIFY(!panel()->Waterm_Picbuf.HasPicture());
    }

    void applyTwiceGivesOneWatermarkAtTheSecondPlace() {
        panel()->ofile->setText(Picture("base.png", 100, 60, qRgb(0, 0, 0)));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        panel()->LoadWatermarkFile(Picture("white.png", 10, 10, qRgb(255, 255, 255)));
        panel()->mixvalue->setValue(255);
        panel()->ipix->setChecked(true);
        panel()->wx->setText(u"5"_s);
        panel()->wy->setText(u"5"_s);
        QTest::mouseClick(panel()->ApplyStuff, Qt::LeftButton);
        QCOMPARE(Result()->Full_Picbuf.image().pixel(7, 7), qRgb(255, 255, 255));
        panel()->wx->setText(u"50abc"_s);
        QTest::mouseClick(panel()->ApplyStuff, Qt::LeftButton);
        const QImage& img = Result()->Full_Picbuf.image();
        QCOMPARE(img.pixel(7, 7), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(52, 7), qRgb(255, 255, 255));
        QCOMPARE(Result()->Copy_Picbuf.image().pixel(52, 7), qRgb(0, 0, 0));
        QVERIFY(QFile::exists(Path("velda.ini")));  // every apply saves the settings

        // Text alone, in pixels, on the shown picture.
        panel()->wfile->clear();
        panel()->Waterm_Picbuf.ClearPicture();
        panel()->CopyText->setPlainText(u"  X  "_s);
        panel()->tpix->setChecked(true);
        panel()->Textclr->setText(u"0000FF"_s);
        panel()->tx->setText(u"60"_s);
        panel()->ty->setText(u"20"_s);
        panel()->ts->setText(u"30"_s);
        panel()->ofile->clear();
        panel()->ApplyStuff_Click();
        int red = 0;
        for (int y = 20; y < 50; ++y)
            for (int x = 60; x < 90; ++x)
                red += Result()->Full_Picbuf.image().pixel(x, y) == qRgb(255, 0, 0);
        QVERIFY(red > 10);

        // Copy puts the whole result on the clipboard.
        Result()->Copy_mnu_Click();
        QCOMPARE(QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32),
                 Result()->Full_Picbuf.image());
        // The view changes only what is shown.
        Result()->fitAction()->trigger();
        QVERIFY(Result()->view()->fit());
        QCOMPARE(Result()->Full_Picbuf.Xresolution(), 100);
    }

    // A picture larger than the window opens whole, fitted to it; choosing
    // actual size is remembered for the next picture and the next start.
    void largePicturesOpenFittedAndTheChoiceIsKept() {
        QVERIFY(panel()->LoadMainFile(Picture("small.png", 50, 40, qRgb(1, 2, 3))));
        QVERIFY(!Result()->view()->fit());
        QVERIFY(panel()->LoadMainFile(Picture("huge.png", 3000, 2000, qRgb(1, 2, 3))));
        QVERIFY(Result()->view()->fit());
        QVERIFY(Result()->fitAction()->isChecked());
        Result()->actualAction()->trigger();
        QVERIFY(!state_.FitToWindow);
        QVERIFY(panel()->LoadMainFile(Picture("huge2.png", 3000, 2000, qRgb(1, 2, 3))));
        QVERIFY(!Result()->view()->fit());
        panel()->SaveSettings();
        QCOMPARE(ReadIniKey(state_.settingsPath, kOptionsSection, u"FitToWindow"_s).value,
                 u"False"_s);
    }

    void applyWithoutAPictureSaysSo() {
        panel()->ApplyStuff_Click();
        QCOMPARE(prompter_.shown.last(), u"Must load an image to watermark"_s);
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Exclamation);
        panel()->ofile->setText(Path("nowhere.jpg"));
        panel()->ApplyStuff_Click();
        QCOMPARE(prompter_.shown.last(), u"Cannot find main image to watermark"_s);
        QVERIFY(QFile::exists(Path("velda.ini")));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void enterInAnEmptyBoxOpensTheDialogAndCutsInitDir() {
        const QString chosen = Picture("pick.me.png", 40, 30, qRgb(1, 2, 3));
        state_.InitDir = u"/start/here"_s;
        prompter_.files = {chosen};
        panel()->ofile->setText(u"   "_s);
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        QCOMPARE(prompter_.dialogs.last(), u"Open Image File|/start/here|All Files (*.*)"_s);
        // Each format it reads once, under its name with every ending, and
        // nothing it cannot read.
        const QStringList types = prompter_.lastFilters;
        QCOMPARE(QSet<QString>(types.begin(), types.end()).size(), types.size());
        QVERIFY(types.contains(u"PNG (*.PNG *.png)"_s));
        QCOMPARE(types.filter(u"JPEG ("_s).value(0).count(u'*'), 8);  // .jpg .jpeg .jpe .jfif
        QVERIFY(types.filter(u"WMF"_s).isEmpty());
        QCOMPARE(panel()->ofile->text(), chosen);
        QCOMPARE(state_.InitDir, dir_.path());
        QVERIFY(Result() && Result()->Full_Picbuf.Xresolution() == 40);

        // Cancelling changes nothing; Enter on a typed path never opens it.
        prompter_.files = {std::nullopt};
        QTest::mouseClick(panel()->waterbrw, Qt::LeftButton);
        QCOMPARE(panel()->wfile->text(), QString());
        QCOMPARE(state_.InitDir, dir_.path());
        const int dialogs = static_cast<int>(prompter_.dialogs.size());
        panel()->wfile->setText(u"  "_s + chosen + u"  "_s);
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        QCOMPARE(prompter_.dialogs.size(), dialogs);
        QCOMPARE(panel()->Waterm_Picbuf.Xresolution(), 40);
        QCOMPARE(panel()->wfile->text(), u"  "_s + chosen + u"  "_s);
    }

    // The Layout panel: each change shows on the picture without Apply,
    // stands in for the classic placement, and is kept in [Marks].
    void layoutPreviewsAtOnceAndIsKept() {
        panel()->ofile->setText(Picture("base.png", 200, 100, qRgb(0, 0, 0)));
        panel()->wfile->setText(Picture("white.png", 20, 10, qRgb(255, 255, 255)));
        panel()->LoadWatermarkFile(panel()->wfile->text());
        panel()->mixvalue->setValue(255);
        panel()->ApplyStuff_Click();
        LayoutPanel* layout = panel()->Layout();
        QVERIFY(layout->isVisible());
        auto at = [this](int x, int y) { return Result()->Full_Picbuf.image().pixel(x, y); };
        QCOMPARE(at(12, 12), qRgb(255, 255, 255));  // the classic 10, 10
        QVERIFY(panel()->wx->isEnabled() && panel()->ipix->isEnabled());

        layout->Anchor->setCurrentIndex(layout->Anchor->findData(u"BR"_s));
        layout->WatermarkSize->setValue(20);  // 40 x 20 on 200 pixels
        QTRY_COMPARE(at(199, 99), qRgb(255, 255, 255));
        QCOMPARE(at(160, 80), qRgb(255, 255, 255));
        QCOMPARE(at(159, 99), qRgb(0, 0, 0));
        QCOMPARE(at(12, 12), qRgb(0, 0, 0));
        QVERIFY(!panel()->wx->isEnabled() && !panel()->ipix->isEnabled() &&
                !panel()->centre->isEnabled());
        layout->TextAutoTone->setChecked(true);
        QVERIFY(!panel()->Textclr->isEnabled());

        panel()->layout_mnu->trigger();  // Ctrl+L: out of the way, still kept
        QVERIFY(!layout->isVisible());
        main_->close();
        QCOMPARE(ReadIniKey(Path("velda.ini"), kMarksSection, u"Anchor"_s).value, u"BR"_s);
        QCOMPARE(ReadIniKey(Path("velda.ini"), kMarksSection, u"WatermarkSize"_s).value, u"20"_s);
        main_.reset();
        Start();
        QCOMPARE(panel()->Layout()->Anchor->currentData().toString(), u"BR"_s);
        QVERIFY(!panel()->wx->isEnabled() && !panel()->layout_mnu->isChecked());
        // The restored picture shows the restored marks at once.
        QTRY_COMPARE(at(199, 99), qRgb(255, 255, 255));
        panel()->Layout()->MarginX->setText(u"10"_s);
        QTRY_COMPARE(at(199, 99), qRgb(0, 0, 0));
        QCOMPARE(at(189, 99), qRgb(255, 255, 255));
    }

    // The stack of further marks: added, edited, turned over and removed
    // in the Layout panel, each change in the preview at once; kept in
    // velda.ini and in presets as a whole.
    void theStackOfMarksIsEditedPreviewedAndKept() {
        panel()->ofile->setText(Picture("base.png", 200, 100, qRgb(0, 0, 0)));
        panel()->ApplyStuff_Click();
        LayoutPanel* layout = panel()->Layout();
        auto at = [this](int x, int y) { return Result()->Full_Picbuf.image().pixel(x, y); };
        QCOMPARE(at(190, 90), qRgb(0, 0, 0));

        // A picture mark, from the dialog, in the bottom-right corner.
        prompter_.files = {Picture("red.png", 40, 20, qRgb(255, 0, 0))};
        layout->AddPicture->click();
        QCOMPARE(layout->MarkList->count(), 2);
        QCOMPARE(layout->MarkList->currentRow(), 1);
        QVERIFY(layout->Editor->isVisible() && !layout->WatermarkSize->isVisible());
        QVERIFY(!layout->Editor->Text->isVisible() && layout->Editor->File->isVisible());
        layout->Editor->MarginX->setText(u"0"_s);
        layout->Editor->MarginY->setText(u"0"_s);
        layout->Editor->Size->setValue(20);  // 40 x 20
        QTRY_COMPARE(at(199, 99), qRgb(255, 0, 0));
        QCOMPARE(at(159, 79), qRgb(0, 0, 0));
        layout->Editor->Anchor->setCurrentIndex(layout->Editor->Anchor->findData(u"TL"_s));
        QTRY_COMPARE(at(0, 0), qRgb(255, 0, 0));
        QCOMPARE(at(199, 99), qRgb(0, 0, 0));

        // A text over it, then the text moved under it.
        layout->AddText->click();
        QCOMPARE(layout->MarkList->currentRow(), 2);
        QVERIFY(layout->Editor->Text->isVisible() && !layout->Editor->File->isVisible());
        layout->Editor->Text->setText(u"\u2588\u2588\u2588\u2588"_s);  // full blocks
        prompter_.colour = QColor(0, 255, 0);  // from the swatch's colour picker
        layout->Editor->ColourSwatch->click();
        QCOMPARE(layout->Editor->Colour->text(), u"#00FF00"_s);
        layout->Editor->Size->setValue(30);
        layout->Editor->Anchor->setCurrentIndex(layout->Editor->Anchor->findData(u"TL"_s));
        QTRY_COMPARE(at(10, 10), qRgb(0, 255, 0));
        layout->MarkUp->click();
        QCOMPARE(layout->MarkList->currentRow(), 1);
        QTRY_COMPARE(at(10, 10), qRgb(255, 0, 0));
        QCOMPARE(layout->Stack().at(2).Value(u"Kind"_s), u"Text"_s);

        // A file that does not load: the others still show, and why is said.
        layout->MarkList->setCurrentRow(2);
        layout->Editor->File->setText(Path("missing.png"));
        QTRY_VERIFY(layout->StackProblem->isVisible());
        QVERIFY(layout->StackProblem->text().contains(u"Mark3: cannot load"_s));
        QTRY_COMPARE(at(10, 10), qRgb(0, 255, 0));
        layout->Editor->File->setText(Path("red.png"));
        QTRY_VERIFY(!layout->StackProblem->isVisible());

        // Kept as [Mark2] and [Mark3], and in a preset that brings the
        // whole stack back.
        prompter_.typed = u"two marks"_s;
        panel()->SavePresetAs();
        main_->close();
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Mark2"_s, u"Kind"_s).value, u"Text"_s);
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Mark3"_s, u"File"_s).value, Path("red.png"));
        main_.reset();
        Start();
        layout = panel()->Layout();
        QCOMPARE(layout->MarkList->count(), 3);
        QTRY_COMPARE(at(10, 10), qRgb(255, 0, 0));
        layout->MarkList->setCurrentRow(1);
        layout->RemoveMark->click();
        layout->RemoveMark->click();
        QCOMPARE(layout->MarkList->count(), 1);
        QTRY_COMPARE(at(10, 10), qRgb(0, 0, 0));
        panel()->LoadPreset(u"two marks"_s);
        QCOMPARE(panel()->Layout()->MarkList->count(), 3);
        QTRY_COMPARE(at(10, 10), qRgb(255, 0, 0));
    }

    // Whatever way a picture comes to be shown, it shows its marks, and
    // Copy takes what is shown; a path that names nothing keeps the open
    // picture.
    void everyPictureShownCarriesItsMarks() {
        panel()->wfile->setText(Picture("white.png", 10, 10, qRgb(255, 255, 255)));
        panel()->LoadWatermarkFile(panel()->wfile->text());
        panel()->mixvalue->setValue(255);
        panel()->ipix->setChecked(true);
        panel()->wx->setText(u"5"_s);
        panel()->wy->setText(u"5"_s);
        auto open = [this](const QString& path) {
            panel()->ofile->setText(path);
            QTest::keyClick(panel()->ofile, Qt::Key_Return);
        };
        auto marked = [this] {
            return Result()->Full_Picbuf.image().pixel(7, 7) == qRgb(255, 255, 255);
        };
        open(Picture("first.png", 100, 60, qRgb(0, 0, 0)));
        QVERIFY(marked());
        const QString second = Picture("second.png", 90, 50, qRgb(0, 0, 90));
        open(second);
        QCOMPARE(Result()->Full_Picbuf.Xresolution(), 90);
        QVERIFY(marked());
        QCOMPARE(Result()->Full_Picbuf.image().pixel(50, 40), qRgb(0, 0, 90));
        Result()->Copy_mnu_Click();
        QCOMPARE(
            QApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32).pixel(7, 7),
            qRgb(255, 255, 255));

        open(Path("typo.png"));
        QCOMPARE(prompter_.shown.last(),
                 u"Cannot find main image to watermark: "_s + Path("typo.png"));
        QVERIFY(Result() && Result()->Full_Picbuf.Xresolution() == 90 && marked());
        QCOMPARE(panel()->ofile->text(), second);

        // Restored at the next start, with its marks.
        main_->close();
        Start();
        QTRY_VERIFY(Result());
        QTRY_VERIFY(Result() && marked());

        // Switched off (and kept off), a new picture shows bare until Apply.
        QVERIFY(panel()->livepreview_mnu->isChecked());
        panel()->livepreview_mnu->trigger();
        open(Picture("third.png", 80, 40, qRgb(0, 0, 0)));
        QVERIFY(!marked());
        panel()->wx->setText(u"6"_s);
        QTest::qWait(100);
        QVERIFY(!marked());
        panel()->ApplyStuff_Click();
        QCOMPARE(Result()->Full_Picbuf.image().pixel(15, 7), qRgb(255, 255, 255));
        main_->close();
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Options"_s, u"LivePreview"_s).value, u"False"_s);
        Start();
        QVERIFY(!panel()->livepreview_mnu->isChecked());
        QTest::qWait(50);
        QVERIFY(!marked());
    }

    void aSettingsFileThatCannotBeReadIsNeverWrittenOver() {
        main_.reset();
        QFile big(Path("velda.ini"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write("[MainVeldaDetails]\nMixValue=99\n");
        QVERIFY(big.resize(kMaxIniBytes + 1));
        big.close();
        Start();
        QVERIFY(!prompter_.shown.isEmpty());
        QVERIFY(
            prompter_.shown.last().startsWith(u"settings file too large: "_s + Path("velda.ini")));
        panel()->mixvalue->setValue(10);
        main_->close();
        QCOMPARE(QFileInfo(Path("velda.ini")).size(), kMaxIniBytes + 1);
    }

    void settingsSurviveARestartAndExitWritesNothing() {
        panel()->mixvalue->setValue(123);
        panel()->CopyText->setPlainText(u"(c) me"_s);
        panel()->Iper->setChecked(true);
        panel()->wx->setText(u"7.50"_s);
        panel()->centre->setChecked(true);
        QVERIFY(panel()->keepmeta_mnu->isChecked());  // kept by default
        panel()->keepmeta_mnu->trigger();
        QVERIFY(!state_.KeepMetadata);
        main_->close();
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Options"_s, u"KeepMetadata"_s).value, u"False"_s);
        QVERIFY(QFile::exists(Path("velda.ini")));
        main_.reset();
        Start();
        QCOMPARE(panel()->mixvalue->value(), 123);
        QCOMPARE(state_.MixLevel, 123);
        QCOMPARE(panel()->CopyText->toPlainText(), u"(c) me"_s);
        QVERIFY(panel()->Iper->isChecked());
        QCOMPARE(panel()->wx->text(), u"7.5"_s);
        QVERIFY(panel()->centre->isChecked() && !panel()->wx->isEnabled());
        QVERIFY(!panel()->keepmeta_mnu->isChecked() && !state_.KeepMetadata);

        panel()->mixvalue->setValue(5);
        panel()->exit_mnu->trigger();
        QCOMPARE(ReadIniKey(Path("velda.ini"), kMainSection, u"MixValue"_s).value, u"123"_s);
    }
    void outputKeysWithoutAControlAndFurtherResultsAreKeptAndUsed() {
        main_.reset();
        QFile ini(Path("velda.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(
            "[Output]\nResize=long:300\nResizeFilter=area\n"
            "[Output3]\nFormat=png\nResize=long:100\nFolder=small\n");
        ini.close();
        Start();
        QCOMPARE(panel()->ResizeBox->text(), u"long:300"_s);
        const auto job = panel()->MakeBatchJob();
        QCOMPARE(job->resizeFilter, ResizeFilter::Area);
        // The further results' sections are run as the file has them.
        QCOMPARE(job->extras.size(), size_t(1));
        QCOMPARE(job->extras[0].number, 3);
        QVERIFY(job->extras[0].format == FormatId::Png);
        QCOMPARE(job->extras[0].folder, u"small"_s);
        panel()->ResizeBox->setText(u"width:200"_s);
        main_->close();
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Output"_s, u"Resize"_s).value, u"width:200"_s);
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Output"_s, u"ResizeFilter"_s).value, u"area"_s);
        QCOMPARE(ReadIniKey(Path("velda.ini"), u"Output3"_s, u"Folder"_s).value, u"small"_s);
    }
};

}  // namespace velda

QTEST_MAIN(velda::ControlPanelTest)
#include "control_panel_test.moc"
