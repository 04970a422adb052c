// The window tests run on an offscreen screen of 1280x1024, the size the cover grid's
// numbers are known for. Set before the test main creates the application object.
#include <QByteArray>
#include <cstdlib>

namespace {

const bool screenChosen = [] {
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen")
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TAVILON_SOURCE_DIR
                                   "/tests/support/offscreen-1280x1024.json");
    return true;
}();

} // namespace
