// Test entry point: a headless QGuiApplication (fonts and text drawing need
// one) around GoogleTest.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "imaging/codec.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // As the programs do: the libraries started once, before any thread.
    velda::EnsureCodecsInitialized();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
