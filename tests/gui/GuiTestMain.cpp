#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

// GUI tests run the real widgets offscreen in one QApplication.
int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
