#pragma once

#include <QEvent>
#include <QObject>
#include <exception>

// Reports an error that ended a handler: its text through the user interaction, nothing for the
// silent abort. Never throws.
void ReportException(std::exception_ptr error) noexcept;

// Runs `handler`, reporting whatever it throws. For the places where Qt's event dispatch does
// not pass through an application object (C callbacks, code run before the event loop).
template <typename F> void RunReportingErrors(F&& handler) noexcept {
    try {
        handler();
    } catch (...) {
        ReportException(std::current_exception());
    }
}

// An application object whose event dispatch catches what a handler throws, so that no
// exception unwinds through Qt. Timers, socket notifiers and queued calls are all delivered
// through notify, so this one place covers them.
template <typename Base> class TErrorReportingApplication : public Base {
public:
    using Base::Base;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return Base::notify(receiver, event);
        } catch (...) {
            ReportException(std::current_exception());
            return true;
        }
    }
};
