// The main function of the test programs that need a Qt application object
// and nothing more of it: offscreen unless QT_QPA_PLATFORM says otherwise,
// and Qt's pooled threads awaited when the program ends.
#include "runtime/PoolThreads.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TPoolThreadsWait poolThreads; // ends after the application object
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
