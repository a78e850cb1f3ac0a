#pragma once
// What keeps the configuration window's boxes consistent while the super-user edits them: the rules
// between check boxes and the checks made when a box is left. Keyed by the column each box is bound
// to; no widgets here, the window lends its boxes through ConfigForm.

#include <QString>
#include <QStringList>

namespace veltrane {

class Prompts;

// The window's boxes as the rules see them, each by the column it is bound to.
class ConfigForm {
public:
    virtual ~ConfigForm() = default;
    virtual bool ticked(const QString& column) const = 0;
    // Sets the box without running its rule: the rules run those of the boxes they set themselves.
    virtual void setTicked(const QString& column, bool on) = 0;
    virtual QString text(const QString& column) const = 0;
    virtual void setText(const QString& column, const QString& text) = 0;
    // Puts the focus back into the box once the change of focus going on now is over.
    virtual void focusBack(const QString& column) = 0;
};

class ConfigFormRules {
public:
    // appFolder: what an empty output folder defaults to.
    ConfigFormRules(ConfigForm& form, Prompts& prompts, QString appFolder);

    // A check box changed on the screen, clicked or set by a rule; not while the window fills the boxes
    // from the record. A box that a rule changes runs its own rule in turn.
    void checkChanged(const QString& column);
    // The super-user left the box for another control of the window.
    void boxLeft(const QString& column);
    // The columns whose boxes boxLeft checks.
    static const QStringList& checkedWhenLeft();

private:
    void set(const QString& column, bool on);
    void checkDecimalPlaces();
    void checkOutputFolder();

    ConfigForm& m_form;
    Prompts& m_prompts;
    QString m_appFolder;
};

}  // namespace veltrane
