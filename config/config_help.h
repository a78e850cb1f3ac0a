#pragma once
// The configuration window's help texts: what each of its help buttons shows.

#include <QStringList>

namespace veltrane {

// The message boxes that help button `index` (help1_<index>) shows, in order. Button 0 explains the
// start weight for the installation kind as last loaded (forWeighbridge), not as ticked on the screen.
QStringList configHelpTexts(int index, bool forWeighbridge);

}  // namespace veltrane
