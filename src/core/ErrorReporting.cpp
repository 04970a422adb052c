#include "core/ErrorReporting.h"

#include "core/Errors.h"
#include "core/UserInteraction.h"

void ReportException(std::exception_ptr error) noexcept {
    try {
        try {
            std::rethrow_exception(error);
        } catch (const EAbort&) {
        } catch (const Exception& e) {
            UserInteraction().ShowError(e.Message());
        } catch (const std::exception& e) {
            UserInteraction().ShowError(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            UserInteraction().ShowError(QStringLiteral("Unknown error"));
        }
    } catch (...) {
        // Showing the error failed as well; there is nobody left to tell.
    }
}
