#pragma once
// The one context object through which the logic reaches the outside world. main() builds it from the
// real services; tests build it from fakes.

#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/dde.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/prompts.h"
#include "platform/serial_port.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "platform/timers.h"

#include <QString>

namespace veltrane {

struct Services {
    Clock& clock;
    Prompts& prompts;
    EventPump& events;
    TimerService& timers;
    Sound& sound;
    ShellOpen& shell;
    Clipboard& clipboard;
    SerialPort& port;
    DdeServer& dde;
    Files& files;
    // The folder of the program file, with a trailing "/": the application folder.
    QString appFolder;
};

}  // namespace veltrane
