#pragma once
// What the configuration window's feed groups share: boxes captioned with the field names that a
// refusal names, the port box's check, the cursor put in a refused box, and table feeds read and
// written for the window.

#include "config/feed_settings.h"
#include "platform/prompts.h"

#include <QGroupBox>

#include <optional>

class QLineEdit;

namespace veltrane {

class FeedGroup : public QGroupBox {
    Q_OBJECT
public:
    FeedGroup(const QString& title, const char* objectName, QWidget* parent = nullptr);

    // Shows the tab that holds the group and puts the cursor in the box captioned field.
    void focusField(const QString& field);

    // Table feeds of the settings database; the defaults when it cannot be read.
    static FeedSettings load(const QString& settingsPath);
    // Writes the row; a failure is shown as a message and gives false.
    static bool save(const QString& settingsPath, const FeedSettings& settings, Prompts& prompts);

protected:
    // A box in the group's grid at row, captioned field (a refusal names it).
    QLineEdit* addLine(const char* name, const QString& field, int row);
    // The port box as a number, or the refusal naming field.
    static std::optional<int> portNumber(const QLineEdit* box, const QString& field,
                                         std::optional<FeedSettingsError>& refusal);
};

}  // namespace veltrane
