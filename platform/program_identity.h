#pragma once
// Which program this is: its version and a SHA-256 over the program file and every library it has
// loaded from its application folder or its package, so that a reader of a record can tell which
// build made it (the tray's "About Veltrane", the event log's start rows).

#include <QString>
#include <QStringList>

namespace veltrane {

struct ProgramIdentity {
    QString version;
    QString digest;     // lowercase hex SHA-256 over the files' bytes, in the order of files
    QStringList files;  // the program file first, then the libraries by path
};

// "3.0": the version alone, without reading any file.
QString programVersion();
// The running program's identity (read from /proc/self). The files are read each time.
ProgramIdentity programIdentity();
// The same for a program file and its own libraries given by path (a tool checking another build).
ProgramIdentity identityOf(const QString& programFile, QStringList libraries);
// "Veltrane 3.0\nSHA-256 <digest>\n  <file>\n...": what --version and the About box show.
QString identityText(const ProgramIdentity& identity);

}  // namespace veltrane
