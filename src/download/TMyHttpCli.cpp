#include "download/TMyHttpCli.h"

void TMyHttpCli::GetASync() {
    activity_.start();
    if (emptyRange_) {
        MarkStarted();
        return;
    }
    THttpCli::GetASync();
}
