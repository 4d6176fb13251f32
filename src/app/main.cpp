// velda: the desktop program.
#include <QApplication>
#include <QScreen>
#include <QScrollBar>

#include "app/main_window.h"
#include "app/splash.h"
#include "imaging/codec.h"
#include "settings/settings.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velda"));
    QApplication::setApplicationVersion(QStringLiteral("1.40"));
    // Process-wide set-up, once, before the batch or the preview starts a
    // thread.
    velda::EnsureCodecsInitialized();

    velda::AppState state;
    state.settingsPath = velda::SettingsFilePath();
    velda::DialogPrompter prompter;

    // The splash window stays up exactly as long as the control panel takes
    // to load its settings and pictures.
    velda::Splash splash;
    splash.show();
    QApplication::processEvents();
    state.MixLevel = 70;
    velda::MainWindow main(state, prompter);
    prompter.setParent(&main);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        main.setGeometry(screen->availableGeometry());
    }
    main.showMaximized();
    main.panel()->Form_Load();
    main.panel()->mixvalue->setValue(state.MixLevel);
    main.setWindowTitle(QStringLiteral("Velda Watermarking System v1.40"));
    splash.close();
    QApplication::processEvents();
    return app.exec();
}
