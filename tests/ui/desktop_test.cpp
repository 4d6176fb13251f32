// The desktop program as a new user meets it: pictures dropped and
// opened, the menus of every window, looking closer, picking a colour.
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QWheelEvent>

#include "app/main_window.h"
#include "imaging/invisible_mark.h"
#include "imaging/picture_io.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/layout_panel.h"
#include "ui/result_window.h"
#include "ui/save_dialog.h"
#include "window_test.h"

using namespace Qt::StringLiterals;

namespace velda {

class DesktopTest : public WindowTest {
    Q_OBJECT

    QString Picture(const QString& name, int w, int h, QRgb colour) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(colour);
        const QString path = dir_.filePath(name);
        img.save(path);
        return path;
    }
    // Drags the files onto the widget and drops them there, as a file
    // manager does.
    static void Drop(QWidget* target, const QStringList& files) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& f : files)
            urls.append(QUrl::fromLocalFile(f));
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(4, 4), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(4, 4), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
    }
    ResultWindow* Result() { return main_->ExistingResult(); }
    QStringList MenuTitles() {
        QStringList titles;
        for (QAction* a : main_->menuBar()->actions())
            titles.append(a->text());
        return titles;
    }

  private slots:
    void init() {
        QFile::remove(dir_.filePath(u"velda.ini"_s));
        prompter_ = ScriptedPrompter();
        Start();
    }
    void cleanup() { main_.reset(); }

    // First: once a test has closed a main window, a modal dialog's event
    // loop in this program returns at once.
    void anInvisibleMarkIsAddedFoundAndNeverSavedIntoAPalette() {
        velda::Picture photo;
        QVERIFY(LoadPicture(u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, 3, &photo).ok());
        const QString path = dir_.filePath(u"wine.png"_s);
        QVERIFY(photo.image.scaled(600, 900, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .save(path));
        LayoutPanel* layout = panel()->Layout();
        layout->Payload->setText(u"nine char"_s);
        QVERIFY(layout->PayloadProblem->isVisibleTo(layout));
        // Refused by a batch even with the Layout panel hidden.
        panel()->layout_mnu->trigger();
        QVERIFY(!layout->isVisible());
        QVERIFY(!panel()->MakeBatchJob());
        QVERIFY(prompter_.shown.last().contains(u"64 bits"_s));
        panel()->layout_mnu->trigger();
        layout->Payload->setText(u"0x2A"_s);
        QVERIFY(!layout->PayloadProblem->isVisibleTo(layout));
        panel()->OpenPicture(path);
        // The picture as opened has none; the result carries it.
        panel()->checkmark_mnu->trigger();
        QCOMPARE(prompter_.shown.last(), u"wine.png: no invisible mark"_s);
        QTRY_COMPARE(DetectInvisible(Result()->Full_Picbuf.picture()),
                     InvisiblePayload::Parse(u"0x2A"_s));
        QVERIFY(Result()->InvisibleMarked);
        const QString saved = dir_.filePath(u"marked.png"_s);
        QVERIFY(Result()->Full_Picbuf.image().save(saved));
        panel()->OpenPicture(saved);
        panel()->checkmark_mnu->trigger();
        QCOMPARE(prompter_.shown.last(), u"marked.png: invisible mark 0x2A"_s);
        // A palette would lose it: the save is refused, says why, and the
        // dialog stays open for another choice.
        QTRY_VERIFY(Result()->InvisibleMarked);
        const QString gif = dir_.filePath(u"marked.gif"_s), png = dir_.filePath(u"again.png"_s);
        // Answered once the dialog is up: the apply before it may let
        // events through.
        std::function<void()> answer = [&] {
            SaveAsDialog* d = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* s = qobject_cast<SaveAsDialog*>(w); s && s->isVisible()) d = s;
            }
            if (!d) {
                QTimer::singleShot(10, this, answer);
                return;
            }
            QTest::mouseClick(d->GIF_Option, Qt::LeftButton);
            d->File->setText(gif);
            d->Ok_Button_Click();
            QVERIFY(d->isVisible());
            QTest::mouseClick(d->PNG_Option, Qt::LeftButton);
            d->bit24->setChecked(true);
            d->File->setText(png);
            d->Ok_Button_Click();
        };
        QTimer::singleShot(0, this, answer);
        QCOMPARE(SaveResultAs(Result()->Full_Picbuf, state_, prompter_, saved, main_.get(), nullptr,
                              Result()->InvisibleMarked),
                 png);
        QVERIFY(prompter_.shown.join(u'\n').contains(u"palette"_s));
        QVERIFY(!QFile::exists(gif));
        velda::Picture again;
        QVERIFY(LoadPicture(png, 3, &again).ok());
        QCOMPARE(DetectInvisible(again), InvisiblePayload::Parse(u"0x2A"_s));
        // Kept in velda.ini for the next start.
        layout->Strength->setValue(8);
        panel()->SaveSettings();
        Start();
        QCOMPARE(panel()->Layout()->Payload->text(), u"0x2A"_s);
        QCOMPARE(panel()->Layout()->Strength->value(), 8);
    }

    void picturesArriveByDropOpenAndRecent() {
        const QString red = Picture(u"red.png"_s, 60, 40, qRgb(255, 0, 0));
        const QString blue = Picture(u"blue.png"_s, 30, 20, qRgb(0, 0, 255));
        // On a box: its text replaced, not the address pasted into it.
        panel()->ofile->setText(u"/some/old/path.jpg"_s);
        Drop(panel()->ofile, {red});
        QCOMPARE(panel()->ofile->text(), red);
        QCOMPARE(Result()->Copy_Picbuf.FileName, red);
        panel()->wfile->setText(u"logo"_s);
        Drop(panel()->wfile, {blue});
        QCOMPARE(panel()->wfile->text(), blue);
        QVERIFY(panel()->Waterm_Picbuf.HasPicture());
        // On the working area, and on the picture itself.
        Drop(main_->findChild<QMdiArea*>()->viewport(), {blue});
        QCOMPARE(Result()->Copy_Picbuf.FileName, blue);
        Drop(Result(), {red});
        QCOMPARE(Result()->Copy_Picbuf.FileName, red);

        // File > Open, all pictures offered first.
        prompter_.files = {blue};
        panel()->open_mnu->trigger();
        QCOMPARE(Result()->Copy_Picbuf.FileName, blue);
        QVERIFY(prompter_.dialogs.last().section(u'|', 2).startsWith(u"All Pictures"_s));

        // The last ten, newest first, kept across a restart; one that is
        // gone is forgotten when chosen.
        for (int i = 0; i < 11; ++i)
            panel()->OpenPicture(Picture(u"p%1.png"_s.arg(i), 8, 8, qRgb(i, i, i)));
        QStringList recent = ReadRecentFiles(state_.settingsPath);
        QCOMPARE(recent.size(), kRecentFiles);
        QCOMPARE(recent.first(), dir_.filePath(u"p10.png"_s));
        QVERIFY(!recent.contains(blue));
        main_->close();
        Start();
        emit panel()->recentMenu->aboutToShow();
        QCOMPARE(panel()->recentMenu->actions().size(), kRecentFiles);
        panel()->recentMenu->actions()[1]->trigger();
        QCOMPARE(Result()->Copy_Picbuf.FileName, dir_.filePath(u"p9.png"_s));
        QFile::remove(dir_.filePath(u"p8.png"_s));
        prompter_.answers = {true};
        emit panel()->recentMenu->aboutToShow();
        panel()->recentMenu->actions()[2]->trigger();
        QVERIFY(!ReadRecentFiles(state_.settingsPath).contains(dir_.filePath(u"p8.png"_s)));

        // Files and folders dropped on the batch lists choose them.
        panel()->batch_mnu_Click();
        QDir().mkpath(dir_.filePath(u"shoot"_s));
        QStringList chosen;
        for (const char* name : {"a.png", "b.png", "c.png"})
            chosen << Picture(u"shoot/"_s + QLatin1String(name), 8, 8, qRgb(1, 2, 3));
        Drop(panel()->InputFile, {chosen[0], chosen[2]});
        QCOMPARE(panel()->InputDir->path(), dir_.filePath(u"shoot"_s));
        QCOMPARE(panel()->InputFile->SelectedNames(), (QStringList{u"a.png"_s, u"c.png"_s}));
        Drop(panel()->InputDir, {dir_.path()});
        QCOMPARE(panel()->InputDir->path(), dir_.path());
    }

    void lookCloserAndCompareWithTheOriginal() {
        panel()->wfile->setText(Picture(u"white.png"_s, 20, 20, qRgb(255, 255, 255)));
        panel()->LoadWatermarkFile(panel()->wfile->text());
        panel()->mixvalue->setValue(255);
        panel()->OpenPicture(Picture(u"black.png"_s, 400, 200, qRgb(0, 0, 0)));
        ResultWindow* r = Result();
        r->ShowFitted(false);
        auto shown = [r](int x, int y) { return r->view()->grab().toImage().pixel(x, y); };
        QTRY_COMPARE(shown(15, 15), qRgb(255, 255, 255));  // the watermark at 10, 10
        QLabel* zoom = main_->findChild<QLabel*>(u"zoom_status"_s);
        QCOMPARE(zoom->text(), u"Zoom 100 %"_s);

        // In and out by steps, shown in the title; Ctrl+wheel too.
        r->zoomIn->trigger();
        QCOMPARE(r->view()->size(), QSize(600, 300));
        QCOMPARE(zoom->text(), u"Zoom 150 %"_s);
        QCOMPARE(shown(22, 22), qRgb(255, 255, 255));
        r->zoomOut->trigger();
        r->zoomOut->trigger();
        QCOMPARE(r->view()->size(), QSize(268, 134));
        QCOMPARE(zoom->text(), u"Zoom 67 %"_s);
        QVERIFY(!r->actualAction()->isChecked() && !r->fitAction()->isChecked());
        QWidget* viewport = r->view()->parentWidget();
        QWheelEvent wheel(QPointF(5, 5), viewport->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, 120), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(viewport, &wheel);
        QCOMPARE(r->view()->size(), QSize(400, 200));
        QVERIFY(r->actualAction()->isChecked());

        // The picture without its marks: chosen, or while \ is held.
        r->showOriginal->setChecked(true);
        QCOMPARE(shown(15, 15), qRgb(0, 0, 0));
        r->showOriginal->setChecked(false);
        QCOMPARE(shown(15, 15), qRgb(255, 255, 255));
        QTest::keyPress(r, Qt::Key_Backslash);
        QCOMPARE(shown(15, 15), qRgb(0, 0, 0));
        QTest::keyRelease(r, Qt::Key_Backslash);
        QCOMPARE(shown(15, 15), qRgb(255, 255, 255));
        // What is saved and copied keeps the marks all along.
        QCOMPARE(r->Full_Picbuf.image().pixel(15, 15), qRgb(255, 255, 255));
    }

    void saveAsSuggestsAndOffersOnlyWhatTheFormatHolds() {
        const QString photo = Picture(u"photo.png"_s, 40, 30, qRgb(10, 20, 30));
        SaveAsDialog d(state_, prompter_, photo);
        QCOMPARE(d.File->text(), u"photo.tif"_s);
        QTest::mouseClick(d.JPG_Option, Qt::LeftButton);
        QCOMPARE(d.File->text(), u"photo.jpg"_s);
        d.ChooseDepth(4);  // a 4-bit picture: JPEG holds only 24 bits
        QVERIFY(d.bit24->isChecked() && !d.bit4->isEnabled() && !d.bit8->isEnabled());
        QTest::mouseClick(d.GIF_Option, Qt::LeftButton);
        QCOMPARE(d.File->text(), u"photo.gif"_s);
        QVERIFY(!d.bit24->isEnabled() && d.bit8->isChecked());
        // A name the user typed is theirs.
        d.File->setText(u"holiday"_s);
        QTest::mouseClick(d.PNG_Option, Qt::LeftButton);
        QCOMPARE(d.File->text(), u"holiday"_s);
        QVERIFY(d.bit24->isEnabled() && d.bit8->isEnabled());
        QTest::mouseClick(d.JPG_Option, Qt::LeftButton);
        d.jpegval->setValue(62);
        QCOMPARE(d.jval->text(), u"62"_s);
        // Saved by a full path typed: the next dialog opens in its folder.
        QDir().mkpath(dir_.filePath(u"web"_s));
        d.File->setText(dir_.filePath(u"web/holiday.jpg"_s));
        d.Ok_Button_Click();
        QVERIFY(state_.SaveRequest.Confirmed);
        SaveAsDialog next(state_, prompter_, photo);
        QCOMPARE(next.FileDir->path(), dir_.filePath(u"web"_s));
    }

    void theTextColourIsShownPickedAndReadAsTyped() {
        ControlPanel* p = panel();
        auto chip = [p] {
            const QImage i =
                p->TextclrSwatch->icon().pixmap(p->TextclrSwatch->iconSize()).toImage();
            return i.pixel(i.width() / 2, i.height() / 2);
        };
        p->Textclr->clear();
        QTest::keyClicks(p->Textclr, u"#ff0000"_s);  // red, as the web writes it
        QCOMPARE(p->Textclr->text(), u"0000FF"_s);   // kept blue-green-red
        QCOMPARE(chip(), qRgb(255, 0, 0));
        p->Textclr->setText(u"FF0000"_s);  // the file's form: blue
        QCOMPARE(chip(), qRgb(0, 0, 255));
        prompter_.colour = QColor(0, 128, 255);
        p->TextclrSwatch->click();
        QCOMPARE(p->Textclr->text(), u"FF8000"_s);
        QCOMPARE(chip(), qRgb(0, 128, 255));
        // The preview draws what the swatch shows.
        p->CopyText->setPlainText(u"\u2588\u2588\u2588"_s);
        p->ts->setText(u"40"_s);
        p->OpenPicture(Picture(u"black.png"_s, 200, 100, qRgb(0, 0, 0)));
        QTRY_COMPARE(Result()->Full_Picbuf.image().pixel(40, 40), qRgb(0, 128, 255));
    }

    void theBatchSectionCountsConfirmsAndStopsAtOnce() {
        panel()->OpenPicture(Picture(u"shown.png"_s, 40, 30, qRgb(1, 2, 3)));
        panel()->batch_mnu_Click();
        QVERIFY(Result());  // the picture stays open
        QDir().mkpath(dir_.filePath(u"in"_s));
        QImage big(2400, 1600, QImage::Format_RGB32);
        for (int y = 0; y < big.height(); ++y)
            for (int x = 0; x < big.width(); ++x)
                big.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
        big.save(dir_.filePath(u"in/000.png"_s));
        for (int i = 1; i < 60; ++i)
            QFile::copy(dir_.filePath(u"in/000.png"_s),
                        dir_.filePath(u"in/%1.png"_s.arg(i, 3, 10, QLatin1Char('0'))));
        panel()->InputDir->setPath(dir_.filePath(u"in"_s));
        QDir().mkpath(dir_.filePath(u"out"_s));
        panel()->OutputDir->setPath(dir_.filePath(u"out"_s));
        QCOMPARE(panel()->FileCount->text(), u"0 of 60"_s);
        panel()->SelectAll->click();
        QCOMPARE(panel()->FileCount->text(), u"60 of 60"_s);
        panel()->SelectNone->click();
        QCOMPARE(panel()->FileCount->text(), u"0 of 60"_s);
        panel()->SelectAll->click();

        panel()->Start_Click();
        QTRY_VERIFY(prompter_.shown.size() >= 1 &&
                    prompter_.shown.last().endsWith(u"60 files, saved as JPEG."_s));
        QTRY_VERIFY(panel()->Compress_Number->text() != QString());  // under way
        QVERIFY(panel()->BatchRunning());
        panel()->Command3D1_Click();
        QCOMPARE(panel()->Compress_Number->text(), u"Stopping…"_s);
        QVERIFY(!panel()->Command3D1->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!panel()->BatchRunning(), 60000);
        const int written =
            static_cast<int>(QDir(dir_.filePath(u"out"_s)).entryList(QDir::Files).size());
        QVERIFY(written < 60);
        QCOMPARE(prompter_.shown.last(),
                 u"Watermarking system stopped: %1 files written."_s.arg(written));
    }

    void everyWindowKeepsTheProgramsMenus() {
        panel()->OpenPicture(Picture(u"red.png"_s, 60, 40, qRgb(255, 0, 0)));
        QMdiArea* area = main_->findChild<QMdiArea*>();
        QCOMPARE(area->activeSubWindow()->widget(), Result());
        // The picture's window: its own items, then the program's.
        QCOMPARE(MenuTitles(), (QStringList{u"&File"_s, u"&View"_s, u"&Options"_s}));
        QMenu* file = main_->menuBar()->actions().first()->menu();
        for (QAction* a : {panel()->batch_mnu, panel()->open_mnu, panel()->help_mnu,
                           panel()->about_mnu, panel()->exit_mnu, panel()->savepreset_mnu})
            QVERIFY2(file->actions().contains(a), qPrintable(a->text()));
        QVERIFY(file->actions().contains(panel()->presetMenu->menuAction()));
        // A program shortcut works from the picture's window.
        bool batch = false;
        connect(panel()->batch_mnu, &QAction::triggered, this, [&] { batch = true; });
        Result()->setFocus();
        QTest::keyClick(Result(), Qt::Key_B, Qt::ControlModifier);
        QVERIFY(batch);
        // Alt+F opens File from a text box, rather than typing into it.
        panel()->ofile->setFocus();
        const QString typed = panel()->ofile->text();
        QTest::keyClick(panel()->ofile, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(panel()->menus().front()->isVisible());
        QCOMPARE(panel()->ofile->text(), typed);
        panel()->menus().front()->close();
        // The panel's window: the same program items.
        area->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(panel()->parentWidget()));
        QCOMPARE(MenuTitles(), (QStringList{u"&File"_s, u"&View"_s, u"&Options"_s}));
    }
};

}  // namespace velda

QTEST_MAIN(velda::DesktopTest)
#include "desktop_test.moc"
