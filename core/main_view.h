#pragma once
// The main window's boxes as the weighing core writes them. The shell's window implements this;
// tests and the replay tool fake it. No Qt Widgets here.

#include <QString>

namespace veltrane {

class MainView {
public:
    virtual ~MainView() = default;
    // weightdata: the weight box (the live feed's item is kept in step by the core, not the view).
    virtual void setWeightText(const QString& text) = 0;
    // Textindi: raw data and the too-soon warning.
    virtual void setRawText(const QString& text) = 0;
    virtual void setRawVisible(bool visible) = 0;
    virtual bool rawVisible() const = 0;
    // Textstatus.
    virtual void setStatusText(const QString& text) = 0;
    virtual void appendStatusText(const QString& text) = 0;
    // stablecounttxt.
    virtual void setStableCountText(const QString& text) = 0;
    // PORTTEXT, its tooltip, Textport, and btn(5)'s caption.
    virtual void setPortStatusText(const QString& text) = 0;
    virtual void setPortToolTip(const QString& text) = 0;
    virtual void setPortNumberText(const QString& text) = 0;
    virtual void setPortButtonCaption(const QString& text) = 0;
    // The main window's title (the wizard shows its progress there).
    virtual void setCaption(const QString& text) = 0;
    virtual QString caption() const = 0;
};

}  // namespace veltrane
