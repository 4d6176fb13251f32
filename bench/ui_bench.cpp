// The desktop program's two waits that a user feels, on a 24-megapixel
// photograph: loading it until it is on screen, and Apply until the result
// is repainted. Runs headless; prints the median of RUNS (default 7).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "ui/file_lists.h"
#include "ui/layout_panel.h"
#include "ui/result_window.h"
#include "ui/save_dialog.h"

namespace {

class SilentPrompter : public velda::Prompter {
  public:
    bool Message(const QString& text, Icon, Buttons) override {
        fprintf(stderr, "message: %s\n", qPrintable(text));
        return true;
    }
    std::optional<QString> OpenFile(const QString&, const QString&, const QString&) override {
        return {};
    }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray env = qgetenv("VELDA_CORPUS");
    const QString corpus =
        env.isEmpty() ? QStringLiteral("/tmp/perf/corpus") : QString::fromLocal8Bit(env);
    const QString photo = corpus + QStringLiteral("/jpg24/kleiber-24mp.jpg");
    if (!QFile::exists(photo)) {
        fprintf(stderr, "no corpus at %s\n", qPrintable(corpus));
        return 1;
    }
    const int runs = qEnvironmentVariableIsSet("RUNS") ? qEnvironmentVariableIntValue("RUNS") : 7;

    velda::AppState state;
    state.settingsPath = QStringLiteral("/dev/null/velda.ini");  // never written
    SilentPrompter prompter;
    velda::MainWindow main(state, prompter);
    main.resize(1600, 1000);
    main.show();
    main.panel()->Form_Load();
    main.panel()->LoadWatermarkFile(corpus + QStringLiteral("/watermark.png"));
    main.panel()->CopyText->setPlainText(QStringLiteral("(c) 2026 Velda Studio"));
    main.panel()->ts->setText(QStringLiteral("40"));
    main.panel()->Iper->setChecked(true);

    std::vector<double> load, apply;
    QElapsedTimer t;
    for (int i = 0; i < runs; ++i) {
        main.CloseResult();
        QApplication::processEvents();
        t.start();
        main.panel()->LoadMainFile(photo);
        main.ExistingResult()->view()->repaint();
        QApplication::processEvents();
        load.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);

        // Applied twice, as a user trying two positions does.
        for (const char* x : {"10", "60"}) {
            main.panel()->wx->setText(QString::fromLatin1(x));
            t.start();
            main.panel()->ApplyStuff_Click();
            main.ExistingResult()->view()->repaint();
            QApplication::processEvents();
            apply.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
    }
    // Live preview: from a change of a mark's setting to the repainted
    // result, the pause that waits for more keys included.
    std::vector<double> preview;
    velda::LayoutPanel* layout = main.panel()->Layout();
    layout->WatermarkSize->setValue(20);
    layout->WatermarkSizeOf->setCurrentIndex(2);
    layout->Anchor->setCurrentIndex(9);
    layout->TextSize->setValue(3);
    layout->TextAnchor->setCurrentIndex(7);
    layout->TextShadow->setChecked(true);
    for (int i = 0; i < 2 * runs; ++i) {
        while (main.panel()->PreviewPending())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        t.start();
        layout->MarginX->setText(QStringLiteral("%1%").arg(2 + i % 2));
        while (main.panel()->PreviewPending())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        main.ExistingResult()->view()->repaint();
        QApplication::processEvents();
        preview.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    // Save As a 256-colour GIF and a 16-colour BMP of the shown result,
    // against velda-batch making the same files from the same photo.
    QTemporaryDir dir;
    std::vector<double> gif, bmp, batchGif, batchBmp;
    for (int i = 0; i < runs; ++i) {
        for (bool asGif : {true, false}) {
            QTimer::singleShot(0, [&] {
                auto* d = qobject_cast<velda::SaveAsDialog*>(QApplication::activeModalWidget());
                if (!d) return;
                d->FileDir->setPath(dir.path());
                d->File->setText(QStringLiteral("saved%1").arg(i));
                (asGif ? d->GIF_Option : d->Bmp_Option)->click();
                if (!asGif) d->bit4->click();
                d->Ok_Button->click();
            });
            t.start();
            emit main.ExistingResult()->saveRequested();
            (asGif ? gif : bmp).push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
            const QString out = dir.filePath(QStringLiteral("batch%1%2").arg(i).arg(asGif));
            const QString bin =
                QCoreApplication::applicationDirPath() + QStringLiteral("/velda-batch");
            t.start();
            QProcess::execute(
                bin,
                {QStringLiteral("-q"), QStringLiteral("--format"),
                 asGif ? QStringLiteral("gif") : QStringLiteral("bmp"), QStringLiteral("--depth"),
                 asGif ? QStringLiteral("8") : QStringLiteral("4"), QStringLiteral("--set"),
                 QStringLiteral("WaterMarkFile=") + corpus + QStringLiteral("/watermark.png"),
                 QStringLiteral("--set"), QStringLiteral("Text=(c) 2026 Velda Studio"),
                 QStringLiteral("--set"), QStringLiteral("ts=40"),
                 corpus + QStringLiteral("/jpg24"), out, QStringLiteral("kleiber-24mp.jpg")});
            (asGif ? batchGif : batchBmp).push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
    }
    printf("24-megapixel photo, %d runs, medians:\n", runs);
    printf("  Save As GIF (256 colours):  %8.1f ms, velda-batch the same: %8.1f ms\n", Median(gif),
           Median(batchGif));
    printf("  Save As BMP (16 colours):   %8.1f ms, velda-batch the same: %8.1f ms\n", Median(bmp),
           Median(batchBmp));
    printf("  load and show:     %8.1f ms (target: well under 1000)\n", Median(load));
    printf("  apply and repaint: %8.1f ms (target: under 100)\n", Median(apply));
    printf("  change to preview: %8.1f ms (target: under 100, the 40 ms pause included)\n",
           Median(preview));
    return 0;
}
