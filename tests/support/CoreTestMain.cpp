#include "core/ErrorReporting.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    testenv::PrepareProcessEnvironment();
    TErrorReportingApplication<QCoreApplication> application(argc, argv);
    return RUN_ALL_TESTS();
}
