#pragma once

#include "core/ErrorReporting.h"

#include <QApplication>

// The client's application object: a handler's error ends the handler and is shown.
using TApplication = TErrorReportingApplication<QApplication>;
