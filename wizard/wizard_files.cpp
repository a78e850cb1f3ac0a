#include "wizard/wizard_files.h"

#include "platform/clock.h"
#include "wizard/protocol_rules.h"

#include <QFile>

namespace veltrane {
namespace {

const QByteArray kCrLf("\r\n");

QByteArray latin1(const QString& text) {
    return text.toLatin1();
}

}  // namespace

QString SettingsText(const QString& settings) {
    const SettingsFields f = splitSettings(settings);
    return QStringLiteral("Baud : %1  Data bits : %2   Stop bits : %3  Parity : %4")
        .arg(f.baud)
        .arg(f.dataBits)
        .arg(f.stopBits)
        .arg(f.parity.trimmed());
}

QString SettingsComments(const QString& settings) {
    const SettingsFields f = splitSettings(settings);
    QString comments;
    if (f.parity == QLatin1String("e") || f.parity == QLatin1String("o")) {
        comments += QStringLiteral(
            "Parity = 'n' (none) is preferred. If you find a suggested configuration in the report with "
            "parity='n', then use that configuration. ");
    }
    if (f.dataBitsText == QLatin1String("7")) {
        comments += QStringLiteral(
            " Databits = 8 is preferred. If you find a suggested configuration in the report with "
            "databits=8, "
            "then use that configuration. ");
    }
    if (f.stopBitsText == QLatin1String("2")) {
        comments += QStringLiteral(
            "Stop bits = 1 is preferred. If you find a suggested configuration in the report with stop "
            "bits=1, then use that configuration. ");
    }
    if (comments.isEmpty()) return {};
    QString whole = QStringLiteral("Comments: ") + comments;
    while (whole.endsWith(QLatin1Char(' '))) whole.chop(1);
    return QStringLiteral("\r\n") + whole;
}

QByteArray reportEntryHead(const ReportHead& h) {
    QByteArray out = kCrLf + kCrLf;
    out += "Protocol No: " + QByteArray::number(h.protocolNumber);
    out += kCrLf + " Settings: Uncheck autosense, Start position: " + QByteArray::number(h.start) +
           " End position " + QByteArray::number(h.end) + "  Delimiter: " + latin1(h.delimiterName);
    out += kCrLf + "Com port settings : " + latin1(SettingsText(h.settings));
    out += kCrLf + "(Data from indicator: " + h.record + " Actual weight : " + h.weight + ")";
    return out;
}

QByteArray reportEntryTail(const QDateTime& now) {
    return kCrLf + latin1(generalDate(now)) + QByteArray(42, '-');
}

QString WizardFiles::logPath() const {
    return m_services.appFolder + QLatin1String(kWizardLogName);
}
QString WizardFiles::reportPath() const {
    return m_services.appFolder + QLatin1String(kWizardReportName);
}

bool WizardFiles::WriteWizardLog(const QByteArray& searchLog, const QString& sampleWeight) {
    const QByteArray block = searchLog + "(" + latin1(generalDate(m_services.clock.now())) +
                             " Search:" + latin1(sampleWeight) + ")" + kCrLf + kCrLf + kCrLf;
    return append(logPath(), block);
}

bool WizardFiles::WriteWizardReport(const QByteArray& reportEntry, const QString& sampleWeight) {
    const QByteArray text =
        reportEntry + " (Sample weight used :" + latin1(sampleWeight) + ")" + kCrLf + kCrLf;
    return append(reportPath(), text);
}

void WizardFiles::OpenWizardFiles() {
    for (const QString& path : {reportPath(), logPath()}) {
        if (!m_services.shell.open(path)) {
            m_services.prompts.message(QStringLiteral("Failed to start '") + path + QLatin1Char('\''),
                                       MessageIcon::Information);
        }
    }
}

bool WizardFiles::append(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QString failure;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(bytes) != bytes.size() ||
        !file.flush()) {
        failure = file.errorString();
    }
    file.close();
    if (failure.isEmpty()) return true;
    m_services.prompts.message(QStringLiteral("Could not write %1: %2").arg(path, failure));
    return false;
}

}  // namespace veltrane
