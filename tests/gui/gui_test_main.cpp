// The GUI suite's entry: one QApplication for every test, settings kept in a private folder so that
// closing windows never writes the user's settings.

#include "tests/support/test_support.h"

#include <QApplication>

#include <cstdlib>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing_support::TemporaryDirectory configHome;
    ::setenv("XDG_CONFIG_HOME", configHome.Path().c_str(), 1);
    ::setenv("QT_ENABLE_HIGHDPI_SCALING", "0", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
