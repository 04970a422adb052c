#pragma once

#include <QString>
#include <exception>
#include <string>

// The error every failure of ours is raised as. Its text is what the user sees in the message box.
class Exception : public std::exception {
public:
    explicit Exception(QString message)
        : message_(std::move(message)), utf8_(message_.toStdString()) {}
    const QString& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    QString message_;
    std::string utf8_;
};

// The silent abort: unwinds to the event loop and shows nothing.
class EAbort : public Exception {
public:
    EAbort() : Exception(QStringLiteral("Operation aborted")) {}
};

// Raises the silent abort.
[[noreturn]] inline void Abort() { throw EAbort(); }
