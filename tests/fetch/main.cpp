#include <QCoreApplication>

#include <gtest/gtest.h>

#include "fetch/zlib_coding.h"

// An application object lets thread steps reach the main thread as in the program.
int main(int argc, char** argv) {
    RegisterZlibContentCoding();
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
