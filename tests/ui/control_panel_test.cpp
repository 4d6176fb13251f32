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
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "app/main_window.h"
#include "settings/section_settings.h"
#include "settings/settings.h"
#include "ui/result_window.h"
#include "ui/twips.h"

namespace velda {

class ScriptedPrompter : public Prompter {
  public:
    bool Message(const QString& text, Icon icon, Buttons) override {
        shown.append(text);
        icons.append(icon);
        return true;
    }
    std::optional<QString> OpenFile(const QString& title, const QString& dir,
                                    const QString& filters) override {
        dialogs.append(title + u'|' + dir + u'|' + filters.section(u'|', 0, 0));
        if (files.isEmpty()) return std::nullopt;
        return files.takeFirst();
    }
    QStringList shown, dialogs;
    QList<Icon> icons;
    QList<std::optional<QString>> files;
};

class ControlPanelTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    AppState state_;
    ScriptedPrompter prompter_;
    std::unique_ptr<MainWindow> main_;
    QStringList captions_;

    ControlPanel* panel() { return main_->panel(); }
    QString Path(const char* name) { return dir_.filePath(QString::fromLatin1(name)); }
    QString Picture(const char* name, int w, int h, QRgb colour) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = Path(name);
        img.save(path);
        return path;
    }
    void Start() {
        state_ = AppState();
        state_.settingsPath = Path("velda.ini");
        prompter_ = ScriptedPrompter();
        main_ = std::make_unique<MainWindow>(state_, prompter_);
        main_->resize(1400, 900);
        main_->show();
        connect(main_.get(), &QWidget::windowTitleChanged, this,
                [this](const QString& t) { captions_.append(t); });
        panel()->Form_Load();
        panel()->mixvalue->setValue(state_.MixLevel);
        main_->setWindowTitle(QStringLiteral("Velda Watermarking System v1.40"));
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
        QCOMPARE(panel()->tval->text(), QStringLiteral("70"));
        QCOMPARE(state_.MixLevel, 70);
        QCOMPARE(panel()->jval->text(), QStringLiteral("75"));
        QCOMPARE(panel()->pcdbase->count(), 5);
        QCOMPARE(panel()->pcdbase->itemText(0), QStringLiteral("Base/16"));
        QCOMPARE(panel()->pcdbase->currentText(), QStringLiteral("Base"));
        QVERIFY(panel()->wx->isEnabled());  // matches the unticked centre box
        QVERIFY(!panel()->ipix->isChecked() && !panel()->Iper->isChecked());
        QCOMPARE(panel()->Textclr->text(), QStringLiteral("10"));
        QVERIFY(panel()->wmfont->findText(QStringLiteral("DejaVu Sans")) >= 0);
        QCOMPARE(panel()->windowTitle(), QStringLiteral("Velda control panel"));
        QCOMPARE(main_->windowTitle(), QStringLiteral("Velda Watermarking System v1.40"));
        QCOMPARE(panel()->HeightTwips(), 2520);
        QVERIFY(!QFile::exists(Path("velda.ini")));
        panel()->centre->setChecked(true);
        QVERIFY(!panel()->wx->isEnabled());
        panel()->centre->setChecked(false);
        QVERIFY(panel()->wx->isEnabled() && panel()->wy->isEnabled());
    }

    void batchToggleResizesRenamesAndClosesTheResult() {
        panel()->ofile->setText(Picture("main.png", 64, 48, qRgb(0, 0, 0)));
        panel()->ApplyStuff_Click();
        QVERIFY(Result());
        panel()->batch_mnu->trigger();
        QCOMPARE(panel()->HeightTwips(), 6600);
        QCOMPARE(panel()->batch_mnu->text(), QStringLiteral("Remove batch section"));
        // The whole batch section shows, and nothing of it in the compact form.
        QVERIFY(panel()->rect().contains(panel()->Frame3D6->geometry()));
        QTRY_VERIFY(!Result());
        panel()->batch_mnu->trigger();
        QCOMPARE(panel()->HeightTwips(), 2410);
        QVERIFY(panel()->height() <= panel()->Frame3D6->geometry().top());
        QCOMPARE(panel()->batch_mnu->text(), QStringLiteral("Batch watermark"));
        QVERIFY(panel()->Frame3D6->findChild<QPushButton*>(QStringLiteral("Start")));
    }

    void transparencyRemakesTheUniformMaskOnlyWithoutATemplate() {
        panel()->mixvalue->setValue(90);
        QCOMPARE(state_.MixLevel, 90);
        QVERIFY(!panel()->Mask_Picbuf.HasPicture());  // no watermark: nothing to remake

        panel()->LoadWatermarkFile(Picture("wm.png", 30, 20, qRgb(255, 255, 255)));
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(90, 90, 90));
        panel()->mixvalue->setValue(200);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(29, 19), qRgb(200, 200, 200));
        QCOMPARE(panel()->tval->text(), QStringLiteral("200"));

        const QString tmpl = Picture("mask.png", 30, 20, qRgb(10, 10, 10));
        panel()->tfile->setText(tmpl);
        QTest::keyClick(panel()->tfile, Qt::Key_Return);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(10, 10, 10));
        panel()->mixvalue->setValue(50);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(10, 10, 10));

        panel()->tfile->setText(QStringLiteral("   "));  // clearing unloads the template
        QVERIFY(!panel()->Mask_Picbuf.HasPicture());
        panel()->mixvalue->setValue(60);
        QCOMPARE(panel()->Mask_Picbuf.image().pixel(0, 0), qRgb(60, 60, 60));
    }

    void loadersSetCaptionsAndSayWhatFailed() {
        const QString main = Picture("photo.png", 120, 80, qRgb(20, 40, 60));
        QVERIFY(panel()->LoadMainFile(main));
        QVERIFY(captions_.contains(QStringLiteral("Loading main file to watermark....")));
        QCOMPARE(main_->windowTitle(), QStringLiteral("Velda Watermarking System v1.40"));
        const QString expected = QStringLiteral("Image to Watermark: ") + main +
                                 QStringLiteral(" - (120 x 80 - 24 BPP, Size - ") +
                                 QString::number(QFileInfo(main).size()) +
                                 QStringLiteral(" bytes)");
        QCOMPARE(Result()->parentWidget()->windowTitle(), expected);
        QVERIFY(prompter_.shown.isEmpty());

        const QString junk = Path("junk.jpg");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("no picture here");
        f.close();
        QVERIFY(!panel()->LoadMainFile(junk));
        // The number, and what it means on the next line.
        QCOMPARE(prompter_.shown.last(),
                 QStringLiteral("Error loading image error number - 2\rnot a picture in a known "
                                "format"));
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Critical);
        QTRY_VERIFY(!Result());

        panel()->LoadWatermarkFile(junk);
        QVERIFY(captions_.contains(QStringLiteral("Loading watermark file....")));
        QCOMPARE(prompter_.shown.last(),
                 QStringLiteral("Error loading watermark image (") + junk +
                     QStringLiteral("), Check format/file is ok. Error - 2 Watermarking will be "
                                    "disabled\rnot a picture in a known format"));
        panel()->LoadTemplateFile(junk);
        QCOMPARE(prompter_.shown.last(),
                 QStringLiteral("Error setting template image (") + junk +
                     QStringLiteral("), Check format/file is ok. Error - 2 Watermarking will be "
                                    "disabled\rnot a picture in a known format"));
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Exclamation);

        const int shown = static_cast<int>(prompter_.shown.size());
        QVERIFY(!panel()->LoadMainFile(Path("missing.png")));  // silently
        panel()->LoadWatermarkFile(Path("missing.png"));
        QCOMPARE(prompter_.shown.size(), shown);
        QVERIFY(!panel()->Waterm_Picbuf.HasPicture());
    }

    void applyTwiceGivesOneWatermarkAtTheSecondPlace() {
        panel()->ofile->setText(Picture("base.png", 100, 60, qRgb(0, 0, 0)));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        panel()->LoadWatermarkFile(Picture("white.png", 10, 10, qRgb(255, 255, 255)));
        panel()->mixvalue->setValue(255);
        panel()->ipix->setChecked(true);
        panel()->wx->setText(QStringLiteral("5"));
        panel()->wy->setText(QStringLiteral("5"));
        QTest::mouseClick(panel()->ApplyStuff, Qt::LeftButton);
        QCOMPARE(Result()->Full_Picbuf.image().pixel(7, 7), qRgb(255, 255, 255));
        panel()->wx->setText(QStringLiteral("50abc"));
        QTest::mouseClick(panel()->ApplyStuff, Qt::LeftButton);
        const QImage& img = Result()->Full_Picbuf.image();
        QCOMPARE(img.pixel(7, 7), qRgb(0, 0, 0));
        QCOMPARE(img.pixel(52, 7), qRgb(255, 255, 255));
        QCOMPARE(Result()->Copy_Picbuf.image().pixel(52, 7), qRgb(0, 0, 0));
        QVERIFY(QFile::exists(Path("velda.ini")));  // every apply saves the settings

        // Text alone, in pixels, on the shown picture.
        panel()->wfile->clear();
        panel()->Waterm_Picbuf.ClearPicture();
        panel()->CopyText->setPlainText(QStringLiteral("  X  "));
        panel()->tpix->setChecked(true);
        panel()->Textclr->setText(QStringLiteral("0000FF"));
        panel()->tx->setText(QStringLiteral("60"));
        panel()->ty->setText(QStringLiteral("20"));
        panel()->ts->setText(QStringLiteral("30"));
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
        QCOMPARE(
            ReadIniKey(state_.settingsPath, kOptionsSection, QStringLiteral("FitToWindow")).value,
            QStringLiteral("False"));
    }

    void applyWithoutAPictureSaysSo() {
        panel()->ApplyStuff_Click();
        QCOMPARE(prompter_.shown.last(), QStringLiteral("Must load an image to watermark"));
        QCOMPARE(prompter_.icons.last(), Prompter::Icon::Exclamation);
        panel()->ofile->setText(Path("nowhere.jpg"));
        panel()->ApplyStuff_Click();
        QCOMPARE(prompter_.shown.last(), QStringLiteral("Cannot find main image to watermark"));
        QVERIFY(QFile::exists(Path("velda.ini")));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void enterInAnEmptyBoxOpensTheDialogAndCutsInitDir() {
        const QString chosen = Picture("pick.me.png", 40, 30, qRgb(1, 2, 3));
        state_.InitDir = QStringLiteral("/start/here");
        prompter_.files = {chosen};
        panel()->ofile->setText(QStringLiteral("   "));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        QCOMPARE(prompter_.dialogs.last(),
                 QStringLiteral("Open Image File|/start/here|All Files (*.*)"));
        QCOMPARE(panel()->ofile->text(), chosen);
        QCOMPARE(state_.InitDir, dir_.path());
        QVERIFY(Result() && Result()->Full_Picbuf.Xresolution() == 40);

        // Cancelling changes nothing; Enter on a typed path never opens it.
        prompter_.files = {std::nullopt};
        QTest::mouseClick(panel()->waterbrw, Qt::LeftButton);
        QCOMPARE(panel()->wfile->text(), QString());
        QCOMPARE(state_.InitDir, dir_.path());
        const int dialogs = static_cast<int>(prompter_.dialogs.size());
        panel()->wfile->setText(QStringLiteral("  ") + chosen + QStringLiteral("  "));
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        QCOMPARE(prompter_.dialogs.size(), dialogs);
        QCOMPARE(panel()->Waterm_Picbuf.Xresolution(), 40);
        QCOMPARE(panel()->wfile->text(), QStringLiteral("  ") + chosen + QStringLiteral("  "));
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

        layout->Anchor->setCurrentIndex(layout->Anchor->findData(QStringLiteral("BR")));
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
        QCOMPARE(ReadIniKey(Path("velda.ini"), kMarksSection, QStringLiteral("Anchor")).value,
                 QStringLiteral("BR"));
        QCOMPARE(
            ReadIniKey(Path("velda.ini"), kMarksSection, QStringLiteral("WatermarkSize")).value,
            QStringLiteral("20"));
        main_.reset();
        Start();
        QCOMPARE(panel()->Layout()->Anchor->currentData().toString(), QStringLiteral("BR"));
        QVERIFY(!panel()->wx->isEnabled() && !panel()->layout_mnu->isChecked());
        // The restored form draws nothing by itself: the picture shows as
        // loaded until something changes.
        QTest::qWait(100);
        QCOMPARE(at(199, 99), qRgb(0, 0, 0));
        panel()->Layout()->MarginX->setText(QStringLiteral("10"));
        QTRY_COMPARE(at(189, 99), qRgb(255, 255, 255));
        QCOMPARE(at(199, 99), qRgb(0, 0, 0));
    }

    void settingsSurviveARestartAndExitWritesNothing() {
        panel()->mixvalue->setValue(123);
        panel()->CopyText->setPlainText(QStringLiteral("(c) me"));
        panel()->Iper->setChecked(true);
        panel()->wx->setText(QStringLiteral("7.50"));
        panel()->centre->setChecked(true);
        QVERIFY(panel()->keepmeta_mnu->isChecked());  // kept by default
        panel()->keepmeta_mnu->trigger();
        QVERIFY(!state_.KeepMetadata);
        main_->close();
        QCOMPARE(
            ReadIniKey(Path("velda.ini"), QStringLiteral("Options"), QStringLiteral("KeepMetadata"))
                .value,
            QStringLiteral("False"));
        QVERIFY(QFile::exists(Path("velda.ini")));
        main_.reset();
        Start();
        QCOMPARE(panel()->mixvalue->value(), 123);
        QCOMPARE(state_.MixLevel, 123);
        QCOMPARE(panel()->CopyText->toPlainText(), QStringLiteral("(c) me"));
        QVERIFY(panel()->Iper->isChecked());
        QCOMPARE(panel()->wx->text(), QStringLiteral("7.5"));
        QVERIFY(panel()->centre->isChecked() && !panel()->wx->isEnabled());
        QVERIFY(!panel()->keepmeta_mnu->isChecked() && !state_.KeepMetadata);

        panel()->mixvalue->setValue(5);
        panel()->exit_mnu->trigger();
        QCOMPARE(ReadIniKey(Path("velda.ini"), kMainSection, QStringLiteral("MixValue")).value,
                 QStringLiteral("123"));
    }
};

}  // namespace velda

QTEST_MAIN(velda::ControlPanelTest)
#include "control_panel_test.moc"
