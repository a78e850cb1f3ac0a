#include "wizard/core_wizard_host.h"

#include "core/decoder.h"
#include "wizard/protocol_search.h"

namespace veltrane {

Settings& CoreWizardHost::settings() { return m_core.settings(); }
Services& CoreWizardHost::services() { return m_core.services(); }
MainView& CoreWizardHost::view() { return m_core.view(); }
void CoreWizardHost::setWeightData(const QString& text) { m_core.setWeightData(text); }
void CoreWizardHost::wait(int ms) { m_core.wait(ms); }
QByteArray& CoreWizardHost::lastRecord() { return m_core.decoder().lastRecord; }
QByteArray& CoreWizardHost::receiveBuffer() { return m_core.decoder().receiveBuffer; }
QByteArray& CoreWizardHost::searchLog() { return m_core.decoder().searchLog; }
bool& CoreWizardHost::searchRunning() { return m_core.decoder().searchRunning; }

// Here rather than beside the search, so that programs that bring their own host do not need the core.
ProtocolSearch::ProtocolSearch(WeighingCore& core)
    : m_ownHost(std::make_unique<CoreWizardHost>(core)), m_host(*m_ownHost), m_files(m_host.services()) {}

}  // namespace veltrane
