#pragma once
// Storing what the quick search found into the settings database, column for column as the wizard
// stores an accepted offer, and the throw-string request of a polled indicator besides.

#include "wizard/quick_search.h"

namespace veltrane {

// False with *error when the database or its configuration record cannot be written.
bool storeQuickResult(const QString& settingsDatabasePath, int portNumber, const QuickResult& result,
                      QString* error);

}  // namespace veltrane
