#pragma once
// Serial port numbers to devices, from table comports (port, device) of the settings database.
// A port without a row is /dev/ttyS<n-1>, as COM1 is ttyS0.

#include "platform/database.h"
#include "platform/serial_port.h"

#include <QString>

#include <optional>

namespace veltrane {

QString defaultDeviceFor(int portNumber);

// Reads the database at each call (the port calls it when its number is set: at each settings load and
// save). A database that cannot be read gives the default device: the port's own open failure then
// tells the operator what is wrong.
DeviceResolver settingsDeviceResolver(const QString& settingsDatabasePath);

// The stored device of one port, nothing without a row. Throws DbError (file, password, table).
std::optional<QString> readComportDevice(const QString& settingsDatabasePath, int portNumber);
// The same through a connection already open: opening a keyed file costs the key derivation each time.
std::optional<QString> readComportDevice(Database& settingsDatabase, int portNumber);
// Stores the device of one port; an empty device removes the row (back to the default).
// Throws DbError.
void writeComportDevice(const QString& settingsDatabasePath, int portNumber, const QString& device);

}  // namespace veltrane
