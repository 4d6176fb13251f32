// Every form as its user sees it: each control inside its frame, each
// caption whole, no two controls on top of each other, at the platform's
// font and at 1.5 times the resolution; and the keyboard reaches every
// control of the panel in reading order.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/main_window.h"
#include "app/splash.h"
#include "ui/layout_panel.h"
#include "ui/save_dialog.h"
#include "window_test.h"

using namespace Qt::StringLiterals;

namespace velda {

class LayoutTest : public QObject {
    Q_OBJECT

    // The controls a form places itself (Qt's own inner parts left out).
    static QList<QWidget*> Controls(QWidget* parent) {
        QList<QWidget*> out;
        for (QObject* o : parent->children()) {
            auto* w = qobject_cast<QWidget*>(o);
            if (w && !w->objectName().isEmpty() && !w->objectName().startsWith(u"qt_") &&
                !w->isWindow() && !w->isHidden())
                out.append(w);
        }
        return out;
    }

    static QString Name(const QWidget* w) {
        return w->parentWidget()->objectName() + u'/' + w->objectName();
    }

    // Walks a form and lists every fault it finds.
    static void Check(QWidget* form, QStringList* faults) {
        const QList<QWidget*> controls = Controls(form);
        for (QWidget* w : controls) {
            if (!form->rect().contains(w->geometry()))
                faults->append(Name(w) + u" lies outside its frame"_s);
            QString caption;
            if (auto* label = qobject_cast<QLabel*>(w)) caption = label->text();
            if (auto* button = qobject_cast<QAbstractButton*>(w)) caption = button->text();
            // A push button's own minimum width is not its caption's.
            int need = w->sizeHint().width();
            if (qobject_cast<QPushButton*>(w))
                need = w->fontMetrics().horizontalAdvance(QString(caption).remove(u'&')) + 8;
            if (!caption.trimmed().isEmpty() && need > w->width()) {
                faults->append(Name(w) +
                               u" cuts its caption (%1 of %2 px)"_s.arg(w->width()).arg(need));
            }
            for (QWidget* other : controls) {
                if (other != w && w < other && w->geometry().intersects(other->geometry()))
                    faults->append(Name(w) + u" overlaps "_s + other->objectName());
            }
            Check(w, faults);
        }
    }

    QTemporaryDir dir_;
    AppState state_;
    ScriptedPrompter prompter_;
    std::unique_ptr<MainWindow> main_;

  private slots:
    // A fresh program with its batch section shown.
    void init() {
        state_ = AppState();
        state_.settingsPath = dir_.filePath(u"velda.ini"_s);
        main_ = std::make_unique<MainWindow>(state_, prompter_);
        main_->show();
        main_->panel()->Form_Load();
        main_->panel()->batch_mnu_Click();
    }
    void cleanup() { main_.reset(); }

    void everyControlOfEveryFormIsWholeAndApart() {
        QStringList faults;
        Check(main_->panel(), &faults);
        LayoutPanel* layout = main_->panel()->Layout();
        Check(layout, &faults);
        // The editor of a further mark, of each kind.
        prompter_.files = {dir_.filePath(u"logo.png"_s)};
        layout->AddPicture->click();
        layout->AddText->click();
        for (int row : {1, 2}) {
            layout->MarkList->setCurrentRow(row);
            QVERIFY(layout->Editor->isVisible());
            QApplication::processEvents();
            Check(layout, &faults);
        }
        SaveAsDialog save(state_, prompter_);
        Check(&save, &faults);
        Splash about;
        Check(&about, &faults);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }

    // On a 1600 x 1000 screen, at the platform's scale and at 1.5: the
    // control panel whole and uncovered, with and without its batch
    // section, the Layout panel beside it.
    void everyWindowFitsTheScreenAndTabReachesTheLayoutPanel() {
        const double dpr = main_->devicePixelRatioF();
        main_->resize((QSizeF(1600, 1000) / dpr).toSize());
        QApplication::processEvents();
        QMdiArea* area = main_->findChild<QMdiArea*>();
        QWidget* panelFrame = main_->panel()->parentWidget();
        auto* scroll = main_->findChild<QScrollArea*>(u"layout_scroll"_s);
        for (int pass = 0; pass < 2; ++pass) {
            QApplication::processEvents();
            QVERIFY2(area->viewport()->rect().contains(panelFrame->geometry()),
                     qPrintable(u"panel %1,%2 %3x%4 in %5x%6"_s.arg(panelFrame->x())
                                    .arg(panelFrame->y())
                                    .arg(panelFrame->width())
                                    .arg(panelFrame->height())
                                    .arg(area->viewport()->width())
                                    .arg(area->viewport()->height())));
            // Beside it, whole where the screen has the room: at 150 % the
            // form alone takes 891 of 1067 points, and the Layout panel
            // scrolls.
            if (dpr == 1)
                QVERIFY2(main_->panel()->Layout()->minimumSizeHint().width() <=
                             scroll->viewport()->width(),
                         qPrintable(u"layout needs %1 of %2"_s
                                        .arg(main_->panel()->Layout()->minimumSizeHint().width())
                                        .arg(scroll->viewport()->width())));
            main_->panel()->batch_mnu_Click();  // the compact form next
        }
        ControlPanel* p = main_->panel();
        p->TextclrSwatch->setFocus();
        for (int i = 0; i < 80 && !p->Layout()->isAncestorOf(QApplication::focusWidget()); ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(p->Layout()->isAncestorOf(QApplication::focusWidget()));
        // A slider with the keyboard shows it.
        p->ofile->setFocus();
        const QImage without = p->mixvalue->grab().toImage();
        p->mixvalue->setFocus();
        QVERIFY(p->mixvalue->grab().toImage() != without);
    }

    void keyboardReachesEveryControlInOrder() {
        ControlPanel* p = main_->panel();

        // Tab leaves the text box without typing into it.
        p->CopyText->setFocus();
        QTest::keyClick(p->CopyText, Qt::Key_Tab);
        QVERIFY(!p->CopyText->toPlainText().contains(u'\t'));
        QVERIFY(!p->CopyText->hasFocus());

        // The focus chain holds every control that takes the keyboard, in
        // reading order within each frame.
        QList<QWidget*> chain;
        for (QWidget* w = p->ofile; chain.size() < 200; w = w->nextInFocusChain()) {
            if (w == p->ofile && !chain.isEmpty()) break;
            if (p->isAncestorOf(w) && w->focusPolicy() & Qt::TabFocus &&
                !w->objectName().isEmpty() && !w->objectName().startsWith(u"qt_"))
                chain.append(w);
        }
        for (QWidget* w : p->findChildren<QWidget*>()) {
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                                 qobject_cast<QScrollBar*>(w) || qobject_cast<QPlainTextEdit*>(w);
            if (!control || w->objectName().isEmpty() || w->objectName().startsWith(u"qt_"))
                continue;
            // A group of option buttons is one stop; the arrows move in it.
            const bool reached =
                chain.contains(w) || (qobject_cast<QRadioButton*>(w) &&
                                      std::any_of(chain.begin(), chain.end(), [w](QWidget* c) {
                                          return qobject_cast<QRadioButton*>(c) &&
                                                 c->parentWidget() == w->parentWidget();
                                      }));
            QVERIFY2(reached, qPrintable(w->objectName()));
        }
        for (qsizetype i = 1; i < chain.size(); ++i) {
            const QWidget *a = chain[i - 1], *b = chain[i];
            if (a->parentWidget() != b->parentWidget()) continue;
            const QRect ra = a->geometry(), rb = b->geometry();
            const bool sameRow = std::abs(ra.center().y() - rb.center().y()) < ra.height() / 2 + 2;
            QVERIFY2(sameRow ? rb.left() > ra.left() : rb.top() > ra.top(),
                     qPrintable(a->objectName() + u" before "_s + b->objectName()));
        }

        // Ctrl+L takes the keyboard to the Layout panel.
        LayoutPanel* l = p->Layout();
        p->ofile->setFocus();
        QTest::keyClick(p->ofile, Qt::Key_L, Qt::ControlModifier);  // hidden
        QTest::keyClick(p->ofile, Qt::Key_L, Qt::ControlModifier);  // shown again
        QTRY_VERIFY(l->WatermarkSize->hasFocus());
        // A menu shortcut works with the focus in a text box.
        bool batchToggled = false;
        connect(p->batch_mnu, &QAction::triggered, this, [&] { batchToggled = true; });
        p->ofile->setFocus();
        QTest::keyClick(p->ofile, Qt::Key_B, Qt::ControlModifier);
        QVERIFY(batchToggled);
        bool aboutShown = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible()) {
                    aboutShown = true;
                    dialog->reject();
                }
            }
        });
        closer.start(20);
        QLineEdit* box = p->wx->isEnabled() ? p->wx : p->ts;
        box->setFocus();
        box->setText(u"12"_s);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QVERIFY(aboutShown);
        QVERIFY(box->selectedText().isEmpty());  // not taken as select-all
    }
};

}  // namespace velda

QTEST_MAIN(velda::LayoutTest)
#include "layout_test.moc"
