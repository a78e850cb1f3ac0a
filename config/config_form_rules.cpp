#include "config/config_form_rules.h"

#include "config/config_save.h"
#include "config/loader.h"
#include "config/numbers.h"
#include "platform/prompts.h"

#include <utility>

namespace veltrane {

namespace {

// Check boxes with a rule.
const QString kVoiceAlert = QStringLiteral("activateVoiceAlert");
const QString kDigitsSeparately = QStringLiteral("voicealertnormal");
const QString kSaveWhenStable = QStringLiteral("AutosaveonStableWeight");
const QString kSaveEachSending = QStringLiteral("saveonbutton");
const QString kPositionDecoding = QStringLiteral("usevalue");
const QString kAutoSense = QStringLiteral("simpinterface");
// Boxes checked when left.
const QString kPort = QStringLiteral("port");
const QString kWeightStart = QStringLiteral("weightstart");
const QString kWeightEnd = QStringLiteral("weightend");
const QString kDecimalPlaces = QStringLiteral("iNSERTBEFORE");
const QString kOutputFolder = QStringLiteral("outputFilelocation");

// Column names are matched without regard to case, as the record's are.
bool is(const QString& column, const QString& name) {
    return column.compare(name, Qt::CaseInsensitive) == 0;
}

}  // namespace

ConfigFormRules::ConfigFormRules(ConfigForm& form, Prompts& prompts, QString appFolder)
    : m_form(form), m_prompts(prompts), m_appFolder(std::move(appFolder)) {}

const QStringList& ConfigFormRules::checkedWhenLeft() {
    static const QStringList columns{kPort, kWeightStart, kWeightEnd, kDecimalPlaces, kOutputFolder};
    return columns;
}

void ConfigFormRules::set(const QString& column, bool on) {
    if (m_form.ticked(column) == on) return;
    m_form.setTicked(column, on);
    checkChanged(column);
}

void ConfigFormRules::checkChanged(const QString& column) {
    if (is(column, kVoiceAlert) || is(column, kDigitsSeparately)) {
        // Digits can be spoken separately only when the voice is on.
        if (!m_form.ticked(kVoiceAlert)) set(kDigitsSeparately, false);
    } else if (is(column, kSaveWhenStable) || is(column, kSaveEachSending)) {
        // Exactly one saving method; saving each weight sent is the one left when neither is ticked.
        const bool stable = is(column, kSaveWhenStable);
        if (m_form.ticked(kSaveWhenStable) && m_form.ticked(kSaveEachSending))
            set(stable ? kSaveEachSending : kSaveWhenStable, false);
        if (!m_form.ticked(kSaveWhenStable) && !m_form.ticked(kSaveEachSending)) set(kSaveEachSending, true);
    } else if (is(column, kPositionDecoding) || is(column, kAutoSense)) {
        // Exactly one decoding method: the other one follows the box changed.
        const QString& changed = is(column, kPositionDecoding) ? kPositionDecoding : kAutoSense;
        const QString& other = is(column, kPositionDecoding) ? kAutoSense : kPositionDecoding;
        if (m_form.ticked(changed) && m_form.ticked(other))
            set(other, false);
        else if (!m_form.ticked(changed) && !m_form.ticked(other))
            set(other, true);
    }
}

void ConfigFormRules::boxLeft(const QString& column) {
    if (is(column, kPort)) {
        const QString text = m_form.text(kPort);
        if (text.isEmpty() || text == QLatin1String("0")) m_form.setText(kPort, QStringLiteral("1"));
    } else if (is(column, kWeightStart) || is(column, kWeightEnd)) {
        const QString& position = is(column, kWeightStart) ? kWeightStart : kWeightEnd;
        const QString text = m_form.text(position);
        if (text.isEmpty() || !isNumeric(text)) m_form.setText(position, QStringLiteral("0"));
    } else if (is(column, kDecimalPlaces)) {
        checkDecimalPlaces();
    } else if (is(column, kOutputFolder)) {
        checkOutputFolder();
    }
}

void ConfigFormRules::checkDecimalPlaces() {
    if (m_form.text(kDecimalPlaces).isEmpty()) {
        m_prompts.beep();
        m_form.setText(kDecimalPlaces, QStringLiteral("0"));
    }
    if (!isNumeric(m_form.text(kDecimalPlaces))) {
        m_prompts.beep();
        m_form.setText(kDecimalPlaces, QStringLiteral("0"));
    }
    const double places = leadingNumberValue(m_form.text(kDecimalPlaces));
    if (places > 11 || places < 0) {
        m_prompts.beep();
        m_prompts.beep();
        m_form.setText(kDecimalPlaces, QStringLiteral("0"));
    }
}

void ConfigFormRules::checkOutputFolder() {
    const QString text = m_form.text(kOutputFolder);
    if (text.isEmpty()) {
        m_prompts.beep();
        m_prompts.message(QStringLiteral("Defaulting to application folder.."));
        m_form.setText(kOutputFolder, m_appFolder);
        return;
    }
    QString folder = text;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    m_form.setText(kOutputFolder, folder);
    if (!folderHasOrdinaryFile(folder)) {
        m_prompts.beep();
        m_prompts.message(
            QStringLiteral("Folder does not exist or folder is empty!! Folder should exist and there "
                           "should be at least one file (any file) inside the folder!!"));
        m_form.focusBack(kOutputFolder);
    }
}

}  // namespace veltrane
