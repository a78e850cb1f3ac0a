#pragma once

#include "core/weighing_core.h"
#include "wizard/wizard_host.h"

namespace veltrane {

class CoreWizardHost final : public WizardHost {
public:
    explicit CoreWizardHost(WeighingCore& core) : m_core(core) {}
    Settings& settings() override;
    Services& services() override;
    MainView& view() override;
    void setWeightData(const QString& text) override;
    void wait(int ms) override;
    QByteArray& lastRecord() override;
    QByteArray& receiveBuffer() override;
    QByteArray& searchLog() override;
    bool& searchRunning() override;

private:
    WeighingCore& m_core;
};

}  // namespace veltrane
