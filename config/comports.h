#pragma once
// Serial port numbers to devices, from table comports (port, device) of the settings database.
// A port without a row is /dev/ttyS<n-1>, as COM1 is ttyS0.

#include "platform/serial_port.h"

#include <QString>

#include <optional>

namespace veltrane {

QString defaultDeviceFor(int portNumber);

// Reads the database at each call, so a device changed in the configuration window applies at the
// next port opening. A database that cannot be read gives the default device: the port's own
// open failure then tells the operator what is wrong.
DeviceResolver settingsDeviceResolver(const QString& settingsDatabasePath);

// The stored device of one port, nothing without a row. Throws DbError (file, password, table).
std::optional<QString> readComportDevice(const QString& settingsDatabasePath, int portNumber);
// Stores the device of one port; an empty device removes the row (back to the default).
// Throws DbError.
void writeComportDevice(const QString& settingsDatabasePath, int portNumber, const QString& device);

}  // namespace veltrane
