#pragma once
// Storing what the quick search found into the settings database, column for column as the wizard
// stores an accepted offer, and the throw-string request of a polled indicator besides.

#include "wizard/quick_search.h"

namespace veltrane {

// A polled indicator's request as the throw-string settings keep it: ENQ by name, and a final carriage
// return as the port's own addition rather than part of the text.
struct ThrowRequest {
    QString outstring;
    bool addCr = false;
};
ThrowRequest throwRequestOf(const QByteArray& request);

// False with *error when the database or its configuration record cannot be written.
bool storeQuickResult(const QString& settingsDatabasePath, int portNumber, const QuickResult& result,
                      QString* error);

}  // namespace veltrane
