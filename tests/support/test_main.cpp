// Test entry point: a headless QGuiApplication (fonts and text drawing need
// one) around GoogleTest.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "imaging/codec.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // As the programs do: the libraries started once, before any thread.
    // Listing the tests (as the build does, outside the sanitizers' leak
    // suppressions) starts nothing.
    if (!::testing::GTEST_FLAG(list_tests)) velda::EnsureCodecsInitialized();
    return RUN_ALL_TESTS();
}
