#include <QApplication>

#include <gtest/gtest.h>

#include "fetch/zlib_coding.h"

// A widget application on the offscreen platform: the window and its run behave
// as in the program, without a display.
int main(int argc, char** argv) {
    RegisterZlibContentCoding();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
