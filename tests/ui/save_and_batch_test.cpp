// Save As, the batch section and settings across a restart, through the
// real widgets; questions answered by a scripted prompter.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/main_window.h"
#include "imaging/codec.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/result_window.h"
#include "ui/save_dialog.h"

namespace velda {

class AnsweringPrompter : public Prompter {
  public:
    bool Message(const QString& text, Icon, Buttons) override {
        shown.append(text);
        if (onMessage) onMessage(text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    std::optional<QString> OpenFile(const QString&, const QString&, const QString&) override {
        return {};
    }
    QStringList shown;
    QList<bool> answers;
    std::function<void(const QString&)> onMessage;
};

class SaveAndBatchTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;
    AppState state_;
    AnsweringPrompter prompter_;
    std::unique_ptr<MainWindow> main_;

    ControlPanel* panel() { return main_->panel(); }
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
    void Start() {
        main_.reset();
        state_ = AppState();
        state_.settingsPath = Path(QStringLiteral("velda.ini"));
        main_ = std::make_unique<MainWindow>(state_, prompter_);
        main_->resize(1400, 900);
        main_->show();
        panel()->Form_Load();
        panel()->mixvalue->setValue(state_.MixLevel);
    }
    int Depth(const QString& file) {
        QFile f(file);
        f.open(QIODevice::ReadOnly);
        const QByteArray data = f.readAll();
        HeaderInfo h;
        ReadHeader(SniffKind(data, file), data, 3, &h);
        return h.depth;
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
        QFile::remove(Path(QStringLiteral("velda.ini")));
        prompter_ = AnsweringPrompter();
        Start();
    }
    void cleanup() { main_.reset(); }

    void saveAsComposesTheNameAndFormat() {
        SaveAsDialog dialog(state_, prompter_);
        dialog.FileDir->setPath(dir_.path());
        dialog.File->setText(QStringLiteral("   "));
        dialog.Ok_Button_Click();
        QCOMPARE(prompter_.shown.last(), QStringLiteral("Please enter a filename"));
        QVERIFY(!state_.SaveRequest.Confirmed);

        dialog.File->setText(QStringLiteral("pic"));
        QTest::mouseClick(dialog.JPG_Option, Qt::LeftButton);
        QVERIFY(dialog.jpegval->isEnabled());
        dialog.bit8->setChecked(true);
        dialog.Ok_Button_Click();
        QCOMPARE(state_.SaveRequest.FileName, dir_.path() + QStringLiteral("/pic.jpg"));
        QCOMPARE(state_.SaveRequest.FormatCode, 7);
        QCOMPARE(state_.SaveRequest.Depth, 24);

        SaveAsDialog root(state_, prompter_);
        root.FileDir->setPath(QStringLiteral("/"));
        root.File->setText(QStringLiteral("pic"));
        QTest::mouseClick(root.tga_option, Qt::LeftButton);
        QVERIFY(!root.jpegval->isEnabled());
        root.Ok_Button_Click();
        QCOMPARE(state_.SaveRequest.FileName, QStringLiteral("/pic.tga"));
        QCOMPARE(state_.SaveRequest.FormatCode, 2);

        QDir().mkpath(Path(QStringLiteral("my.pics")));
        SaveAsDialog dotted(state_, prompter_);
        dotted.FileDir->setPath(Path(QStringLiteral("my.pics")));
        dotted.File->setText(QStringLiteral("pic"));
        QTest::mouseClick(dotted.GIF_Option, Qt::LeftButton);
        dotted.Ok_Button_Click();
        QCOMPARE(state_.SaveRequest.FileName, Path(QStringLiteral("my.pics/pic")));
        QCOMPARE(state_.SaveRequest.FormatCode, 4);

        SaveAsDialog typed(state_, prompter_);
        typed.FileDir->setPath(dir_.path());
        typed.File->setText(QStringLiteral("pic.bmp"));
        QTest::mouseClick(typed.JPG_Option, Qt::LeftButton);
        typed.Ok_Button_Click();
        QCOMPARE(state_.SaveRequest.FileName, dir_.path() + QStringLiteral("/pic.bmp"));
        QCOMPARE(state_.SaveRequest.FormatCode, 7);
    }

    void saveAsWritesTheShownPictureAndCancelWritesNothing() {
        panel()->ofile->setText(Picture(QStringLiteral("photo.png")));
        QTest::keyClick(panel()->ofile, Qt::Key_Return);
        ResultWindow* result = main_->ExistingResult();
        QVERIFY(result);

        AnswerSaveAs([this](SaveAsDialog* d) {
            QVERIFY(d->bit24->isChecked());  // preset from the picture
            d->FileDir->setPath(dir_.path());
            d->File->setText(QStringLiteral("out"));
            QTest::mouseClick(d->TIF_Option, Qt::LeftButton);
            d->bit8->setChecked(true);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(QFile::exists(Path(QStringLiteral("out.tif"))));
        QCOMPARE(Depth(Path(QStringLiteral("out.tif"))), 8);
        QCOMPARE(result->Full_Picbuf.ColorDepth(), 8);  // the shown picture keeps the new depth

        AnswerSaveAs([this](SaveAsDialog* d) {
            QVERIFY(d->bit8->isChecked());
            QVERIFY(d->TIF_Option->isChecked());  // remembered
            d->File->setText(QStringLiteral("again"));
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QCOMPARE(Depth(Path(QStringLiteral("again.jpg"))), 24);

        AnswerSaveAs([](SaveAsDialog* d) {
            d->File->setText(QStringLiteral("never"));
            QTest::mouseClick(d->Cancel_Button, Qt::LeftButton);
        });
        emit result->saveRequested();
        QVERIFY(!QFile::exists(Path(QStringLiteral("never.jpg"))));
        QCOMPARE(ReadIniKey(state_.settingsPath, kSaveAsSection, QStringLiteral("JPGOption")).value,
                 QStringLiteral("-1"));

        // A restored JPG choice with 8 bits shows JPG and 24 bits.
        WriteIniKey(state_.settingsPath, kSaveAsSection, QStringLiteral("8bit"),
                    QStringLiteral("-1"));
        WriteIniKey(state_.settingsPath, kSaveAsSection, QStringLiteral("24bit"),
                    QStringLiteral("0"));
        SaveAsDialog restored(state_, prompter_);
        QVERIFY(restored.JPG_Option->isChecked() && restored.bit24->isChecked() &&
                restored.jpegval->isEnabled());
        QCOMPARE(restored.FileList->path(), dir_.path());
    }

    void saveAsKeepsThePhotosMetadata() {
        const QString photo = Path(QStringLiteral("camera.jpg"));
        QImage(Picture(QStringLiteral("camera.png"))).save(photo, "JPEG");
        QProcess tag;
        tag.start(QStringLiteral("exiv2"),
                  {QStringLiteral("-Mset Exif.Image.Make SaveCam"), photo});
        QVERIFY(tag.waitForFinished() && tag.exitCode() == 0);
        panel()->ofile->setText(photo);
        panel()->CopyText->setPlainText(QStringLiteral("mark"));
        panel()->ApplyStuff_Click();
        AnswerSaveAs([this](SaveAsDialog* d) {
            d->FileDir->setPath(dir_.path());
            d->File->setText(QStringLiteral("kept"));
            QTest::mouseClick(d->JPG_Option, Qt::LeftButton);
            QTest::mouseClick(d->Ok_Button, Qt::LeftButton);
        });
        emit main_->ExistingResult()->saveRequested();
        QProcess read;
        read.start(QStringLiteral("exiv2"),
                   {QStringLiteral("-Pkv"), Path(QStringLiteral("kept.jpg"))});
        QVERIFY(read.waitForFinished());
        QVERIFY(
            QString::fromUtf8(read.readAllStandardOutput()).contains(QStringLiteral("SaveCam")));
    }

    void formatOptionsFilterTheInputList() {
        for (const char* n : {"a.jpg", "b.PNG", "c.gif", "d.pcd", "e.txt", ".hidden.jpg"}) {
            QFile f(Path(QStringLiteral("list/") + QString::fromLatin1(n)));
            QDir().mkpath(Path(QStringLiteral("list")));
            f.open(QIODevice::WriteOnly);
        }
        panel()->InputDir->setPath(Path(QStringLiteral("list")));
        QCOMPARE(panel()->InputFile->count(), 2);  // the start pattern has no PNG
        QTest::mouseClick(panel()->All_Option, Qt::LeftButton);
        QCOMPARE(panel()->InputFile->count(), 3);
        QTest::mouseClick(panel()->Option3D1, Qt::LeftButton);
        QCOMPARE(panel()->InputFile->count(), 1);
        QCOMPARE(panel()->InputFile->item(0)->text(), QStringLiteral("d.pcd"));
        QCOMPARE(panel()->pcdbase->currentText(), QStringLiteral("Base"));
    }

    void batchFromTheWindowInListAndTreeMode() {
        Picture(QStringLiteral("in/one.png"));
        Picture(QStringLiteral("in/two.png"));
        Picture(QStringLiteral("in/sub/three.png"));
        const QString out = Path(QStringLiteral("out"));
        panel()->CopyText->setPlainText(QStringLiteral("(c)"));
        QTest::mouseClick(panel()->All_Option, Qt::LeftButton);
        panel()->InputDir->setPath(Path(QStringLiteral("in")));
        panel()->OutputDir->setPath(dir_.path());
        QDir().mkpath(out);
        panel()->OutputDir->setPath(out);
        panel()->InputFile->item(1)->setSelected(true);  // two.png
        prompter_.answers = {true};
        QTest::mouseClick(panel()->Start, Qt::LeftButton);
        QVERIFY(!panel()->Start->isEnabled());
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(panel()->Start->isEnabled());
        QCOMPARE(prompter_.shown.last(), QStringLiteral("1 files processed."));
        QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("two.jpg")});
        QVERIFY(prompter_.shown.at(prompter_.shown.size() - 2)
                    .startsWith(QStringLiteral(
                        "You have selected to watermark the selected files from, ")));

        // Tree mode, answered No: nothing written, "0 files processed."
        panel()->SubCheck->setChecked(true);
        QTest::mouseClick(panel()->GIFO, Qt::LeftButton);
        prompter_.answers = {false};
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QCOMPARE(prompter_.shown.last(), QStringLiteral("0 files processed."));
        prompter_.answers = {true};
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QCOMPARE(prompter_.shown.last(), QStringLiteral("3 files processed."));
        QCOMPARE(QDir(out).entryList({QStringLiteral("*.gif")}, QDir::Files).size(), 3);

        // The same folder twice is refused.
        panel()->OutputDir->setPath(Path(QStringLiteral("in")));
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        QVERIFY(prompter_.shown.contains(
            QStringLiteral("Output directory must be different to the source")));
        QVERIFY(QFile::exists(state_.settingsPath));  // Start saves the settings first
    }

    void cancelStopsBetweenFilesWithoutAReport() {
        for (int i = 0; i < 8; ++i)
            Picture(QStringLiteral("many/p%1.png").arg(i), 1200, 900);
        const QString out = Path(QStringLiteral("many-out"));
        QDir().mkpath(out);
        panel()->CopyText->setPlainText(QStringLiteral("x"));
        panel()->InputDir->setPath(Path(QStringLiteral("many")));
        panel()->OutputDir->setPath(out);
        panel()->SubCheck->setChecked(true);
        // Yes to the confirmation, and Cancel at once.
        prompter_.onMessage = [this](const QString& text) {
            if (text.startsWith(QStringLiteral("You have selected"))) panel()->Command3D1_Click();
        };
        panel()->Start_Click();
        QTRY_VERIFY(!panel()->BatchRunning());
        const int written = static_cast<int>(QDir(out).entryList(QDir::Files).size());
        QVERIFY(written < 8);
        QVERIFY(!prompter_.shown.last().endsWith(QStringLiteral("files processed.")));
        QVERIFY(panel()->Compress_Number->text().isEmpty());
    }

    void settingsRoundTripAndRememberedPictures() {
        const QString wm = Picture(QStringLiteral("wm.png"), 20, 10);
        const QString main = Picture(QStringLiteral("main.png"));
        panel()->ofile->setText(main);
        panel()->wfile->setText(wm);
        QTest::keyClick(panel()->wfile, Qt::Key_Return);
        panel()->InputDir->setPath(dir_.path());
        panel()->OutputDir->setPath(Path(QStringLiteral("..")));
        panel()->mixvalue->setValue(42);
        panel()->jpegval->setValue(33);
        panel()->tper->setChecked(true);
        panel()->ts->setText(QStringLiteral("31.5"));
        main_->close();
        Start();
        QCOMPARE(panel()->mixvalue->value(), 42);
        QCOMPARE(panel()->jval->text(), QStringLiteral("33"));
        QVERIFY(panel()->tper->isChecked());
        QCOMPARE(panel()->ts->text(), QStringLiteral("31.5"));
        QCOMPARE(panel()->InputFile->path(), dir_.path());
        QCOMPARE(panel()->OutputDir->path(), QDir::cleanPath(Path(QStringLiteral(".."))));
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

        // A remembered main picture that fails to load: nothing after it is restored.
        QFile junk(main);
        junk.open(QIODevice::WriteOnly);
        junk.write("junk");
        junk.close();
        WriteIniKey(state_.settingsPath, kMainSection, QStringLiteral("OrigFile"), main);
        main_.reset();
        Start();
        QCOMPARE(prompter_.shown.last(), QStringLiteral("Error loading image error number - 2"));
        QCOMPARE(panel()->mixvalue->value(), 70);
        QVERIFY(!panel()->Waterm_Picbuf.HasPicture());

        // Bad settings files never stop the program.
        for (const QByteArray& bad :
             {QByteArray("\x00\xff\xfe garbage [[[ = ="),
              QByteArray("[MainVeldaDetails]\nMixValue=99999999999\nInputDir=/no/such\n"),
              QByteArray(100000, 'x')}) {
            QFile f(state_.settingsPath);
            f.open(QIODevice::WriteOnly);
            f.write(bad);
            f.close();
            main_.reset();
            Start();
            QCOMPARE(panel()->mixvalue->value(), 70);
        }
    }
};

}  // namespace velda

QTEST_MAIN(velda::SaveAndBatchTest)
#include "save_and_batch_test.moc"
