#include "gui/TApplication.h"
#include "support/TestEnvironment.h"
#include "webbrowser/TWebBrowser.h"

#include <gtest/gtest.h>

int main(int argc, char* argv[]) {
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    testenv::PrepareProcessEnvironment();
    PrepareWebBrowser();
    TApplication application(argc, argv);
    TApplication::setApplicationName(QStringLiteral("tavilon"));
    return RUN_ALL_TESTS();
}
