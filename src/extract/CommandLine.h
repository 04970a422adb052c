#pragma once

#include <QString>
#include <QStringList>

// Splits a parameter text into arguments as a shell would: blanks (spaces, tabs) separate
// arguments, double quotes group (they may start or end inside an argument: -p"a b" is one
// argument), and "" inside quotes stands for one double quote. No argument is empty.
QStringList SplitCommandLine(const QString& text);

// `text` as one argument of such a parameter text: in double quotes when it holds a blank or a
// double quote (each written doubled), as it stands otherwise.
QString QuoteArgument(const QString& text);
