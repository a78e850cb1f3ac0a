#pragma once
// The program's own command line: --help and --version answer and end before any window, database or
// port is touched, so they work without a display and beside a running copy.

#include <QString>
#include <QStringList>

#include <optional>

namespace veltrane {

// "veltrane 3.0": the line --version prints.
QString versionLine();
// What --version prints, on standard output.
void printVersion();

// Empty when the program should start; 0 after --help or --version were answered. Qt's own options
// (-platform, -display, ...) are left to QApplication.
std::optional<int> answerCommandLine(int argc, char** argv);

// After QApplication took its options: 0 when nothing is left, else 2 and a line on standard error.
int refuseLeftArguments(const QStringList& arguments);

}  // namespace veltrane
