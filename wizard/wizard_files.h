#pragma once
// The wizard's two files beside the program: "wizardlog.txt" (combinations tried and the character
// codes received under them) and "wizardreport.txt" (one paragraph per identified protocol). Both are
// only ever appended to, as single-byte text with CR LF line ends, so support can read every run.

#include "platform/services.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace veltrane {

inline constexpr auto kWizardLogName = "wizardlog.txt";
inline constexpr auto kWizardReportName = "wizardreport.txt";

// "Baud : 2400  Data bits : 8   Stop bits : 1  Parity : n"
QString SettingsText(const QString& settings);
// Empty, or CR LF + "Comments: " + the advice for parity, data bits and stop bits that are not the
// preferred ones.
QString SettingsComments(const QString& settings);

// The report entry of one identified protocol, built in its order: head, optional lines, comments, tail.
struct ReportHead {
    int protocolNumber = 0;
    int start = 0;
    int end = 0;
    QString delimiterName;
    QString settings;
    QByteArray record;
    QByteArray weight;
};
QByteArray reportEntryHead(const ReportHead& head);
inline constexpr auto kOneNumberLine = "OR, Just enable (tick) autosense option. Same Com port settings ";
inline constexpr auto kLastNumberLine =
    "Just enabling (ticking) Autosense may also work. You may have a slight flickering in the diaplay. Same "
    "com port settings.";
// Ends with a lone LF, as the report always had.
inline constexpr auto kReverseLine =
    "Weight is sent in reverse! You will have to check this option in interface configuration. ";
// CR LF, the date and time, 42 hyphens.
QByteArray reportEntryTail(const QDateTime& now);

class WizardFiles {
public:
    explicit WizardFiles(Services& services) : m_services(services) {}

    // Appends the search log and its closing line. A failure is shown with its description; false then,
    // and the caller keeps the log for the next write.
    bool WriteWizardLog(const QByteArray& searchLog, const QString& sampleWeight);
    // Appends the report entry and its closing text.
    bool WriteWizardReport(const QByteArray& reportEntry, const QString& sampleWeight);
    // Opens the report, then the log, in the desktop's viewer; a file that does not open is reported
    // and the other one is still tried.
    void OpenWizardFiles();

    QString logPath() const;
    QString reportPath() const;

private:
    bool append(const QString& path, const QByteArray& bytes);

    Services& m_services;
};

}  // namespace veltrane
