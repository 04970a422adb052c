#pragma once

#include <QStringList>

// The commands of tavilon-catalogue; each takes the arguments after its name and returns the
// exit code (0 done, 1 failed, 2 wrong usage).
int ServeCommand(const QStringList& arguments);
int AddCommand(const QStringList& arguments);
int ListCommand(const QStringList& arguments);
int RemoveCommand(const QStringList& arguments);
int RateCommand(const QStringList& arguments);
int YearCommand(const QStringList& arguments);
int ImportCommand(const QStringList& arguments);
