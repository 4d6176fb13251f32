// The desktop program's two waits that a user feels, on a 24-megapixel
// photograph: loading it until it is on screen, and Apply until the result
// is repainted. Runs headless; prints the median of RUNS (default 7).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/main_window.h"
#include "ui/result_window.h"

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
    printf("24-megapixel photo, %d runs, medians:\n", runs);
    printf("  load and show:     %8.1f ms (target: well under 1000)\n", Median(load));
    printf("  apply and repaint: %8.1f ms (target: under 100)\n", Median(apply));
    return 0;
}
