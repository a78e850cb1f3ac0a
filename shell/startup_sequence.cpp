#include "shell/startup_sequence.h"

#include "config/settings.h"
#include "platform/clock.h"
#include "platform/prompts.h"
#include "shell/version_check.h"

namespace veltrane {

QString applicationFolderOf(const QString& programFolder) {
    return programFolder.endsWith(QLatin1Char('/')) ? programFolder : programFolder + QLatin1Char('/');
}

StartupResult StartupSequence::CheckVersionDatabase(const QString& programFolder) {
    const VersionCheckResult check = checkVersionDatabaseFile(applicationFolderOf(programFolder));
    switch (check.result) {
        case VersionCheck::Accepted:
            return StartupResult::Running;
        case VersionCheck::Missing:
            m_prompts.message(QStringLiteral("Error! configuration database not found!"));
            return StartupResult::EndProgram;
        case VersionCheck::Refused:
            m_prompts.message(QStringLiteral("Error! configuration database ") +
                                  applicationFolderOf(programFolder) + QLatin1String(kVersionDatabaseName) +
                                  QStringLiteral(" cannot be read. ") + check.description,
                              MessageIcon::Critical);
            return StartupResult::EndProgram;
        case VersionCheck::Older:
            m_prompts.beep();
            m_prompts.message(QStringLiteral("Error! Older version of database!"));
            return StartupResult::EndProgram;
        case VersionCheck::Failed:
            m_prompts.message(check.description, MessageIcon::Critical);
            return StartupResult::EndProgram;
    }
    return StartupResult::EndProgram;
}

StartupResult StartupSequence::run(const QString& programFolder) {
    if (CheckVersionDatabase(programFolder) == StartupResult::EndProgram) return StartupResult::EndProgram;

    const QDateTime now = m_clock.now();
    m_host.setLastRecordTime(now);
    m_host.setDateTimeText(shortDate(now.date()), shortTime(now.time()));
    const QString appFolder = applicationFolderOf(programFolder);
    // A missing cursor file leaves the normal pointer (the prompts fall back on their own).
    m_prompts.setPointer(Pointer::Custom);
    m_host.createTray();
    m_host.emptyWeightBox();
    if (m_host.loadConfiguration() == LoadResult::EndProgram) return StartupResult::EndProgram;

    m_host.changeTrayIcon(
        appFolder + (m_settings.FORWEIGHBRIDGE ? QStringLiteral("PN.ICO") : QStringLiteral("SCALE.ICO")));
    m_host.setTrayToolTip(QStringLiteral("Marlume Veltrane"));
    if (m_settings.accessPassword == QLatin1String(kDefaultPassword)) {
        m_prompts.message(QStringLiteral("Please change the password from '") +
                          QLatin1String(kDefaultPassword) + QStringLiteral("' !"));
    }
    if (m_settings.Startauto) {
        m_host.openSerialPort();
    } else {
        m_prompts.beep();
        m_prompts.message(
            QStringLiteral("Currently, Veltrane is not configured to open the com port automatically when it "
                           "starts. You need to "
                           "press 'Open port' button to receive data from indicator."));
    }
    m_host.minToSysTray();
    return StartupResult::Running;
}

}  // namespace veltrane
