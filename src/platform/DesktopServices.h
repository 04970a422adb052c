#pragma once

#include <QString>

// Asks the desktop to open `address` (a web address) the way the user has chosen, which for
// http and https is the user's default web browser. Returns at once; whether the desktop could
// open it is not looked at.
void ShellOpen(const QString& address);
