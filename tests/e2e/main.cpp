#include <QCoreApplication>

#include <gtest/gtest.h>

// An application object lets thread steps reach the main thread as in the program.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
