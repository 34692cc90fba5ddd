#include "core/Log.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// The network output needs an application object; the tests drive the sinks
// from this thread and from threads of their own. The log goes to standard
// error, where the tests capture it, so that failures stay visible.
int main(int argc, char** argv)
{
    setLogToStderr(true);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
