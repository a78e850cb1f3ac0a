#pragma once
// The click handler of the main window's button row btn(0..5), against a host that performs the
// actions (the window in the program, a recorder in tests).

#include <QString>

namespace veltrane {

class PasswordGate;
class Prompts;

class ButtonHost {
public:
    virtual ~ButtonHost() = default;
    virtual void showConfiguration() = 0;  // modal
    virtual void runWizard() = 0;
    virtual void showLog() = 0;  // modeless; an open viewer comes to the front
    virtual void closeMainWindow() = 0;
    virtual void minimise() = 0;
    virtual bool isPortOpen() = 0;
    virtual void closePort() = 0;       // without reloading the configuration
    virtual void openSerialPort() = 0;  // reloads the configuration first
    virtual void showPortState() = 0;   // the port button's caption and the status as the port is
};

class MainButtons {
public:
    enum Index { Configure = 0, Wizard = 1, Log = 2, Close = 3, Minimize = 4, Port = 5, Count = 6 };
    static QString caption(int index);
    static bool needsPassword(int index);

    MainButtons(Prompts& prompts, PasswordGate& password, ButtonHost& host)
        : m_prompts(prompts), m_password(password), m_host(host) {}

    void click(int index);

private:
    void togglePort();

    Prompts& m_prompts;
    PasswordGate& m_password;
    ButtonHost& m_host;
};

}  // namespace veltrane
