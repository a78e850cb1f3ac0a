#pragma once

namespace veltrane {

// The access-granted flag: set by a valid entry in the password window, cleared whenever that window
// (or the configuration window) loads, read by the caller right after the modal showing returns.
// One object lives beside the main window and is handed to whoever shows or reads it.
struct AccessGrant {
    bool granted = false;
};

}  // namespace veltrane
