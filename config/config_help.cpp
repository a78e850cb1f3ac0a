#include "config/config_help.h"

#include <iterator>

namespace veltrane {

namespace {

const char* const kForWeighbridge =
    "Only when the weight sent by the indicator goes above this value, Veltrane will assume that a truck is "
    "on "
    "the platform. After each weighment, when weight sent by the indicator goes below this value, Veltrane "
    "will will assume that the truck has moved out of the platform. This value must be around 400 Kgs for "
    "normal operation.";
const char* const kForMaterial =
    "Only when the weight sent by the indicator goes above this value, Veltrane will assume that the "
    "material "
    "(product) to be weighed is on the platform. After each weighment, when weight sent by the indicator "
    "goes "
    "below this value, Veltrane will will assume that the material has been moved out of the platform. This "
    "value must be 10  to 20 percent of the normal material weight";

// By button index; 0 depends on the installation kind.
const char* const kTexts[] = {
    nullptr,
    "When veltrane is executed, it opens the serial port automatically if you set this option. After making "
    "sure that your indicator is interfaced properly and you are receiving the weight correctly, you can "
    "enable this, so that user does not have to manually open the serial port every time the software "
    "starts. You can also add veltrane software to windows startup folder to automatically start it when "
    "windows boots.",
    "There are two ways that the weight will get saved (served).\n"
    "1) Indicator sends weight once when the weight is stable, or when the operator presses 'print' button\n"
    "2) Indicator sends weight continuously. When the software finds stable weight coming from indicator, "
    "then it saves that weight. To decide whether the weight is stable, it looks for continuous stable "
    "readings above a certain value. ",
    "Served (transferred) weight will be announced after saving the weight if the option is enabled. ",
    "1. After each weighment, weight data along with date and time are stored in CSV format or access 97 "
    "file "
    "format. Last weighment is overwritten if present. File path can be in the network.\n"
    "2. If enabled, veltrane software will also behave like a DDE server, serving weight continuously. If "
    "DDE "
    "client is added to the target application, you can receive indicator weight.\n"
    "3. If clipboard option is enabled, then stable weight is copied to clipboard so that you can paste it "
    "into target application.",
    "Access to some of the modules/features is limited by a password. Password can be changed here. Default "
    "password is 'pavix'",
    "You can use indicator interface wizard to automatically find the indicator connection details and "
    "protocol. You can also configure the connection manually.",
};

}  // namespace

QStringList configHelpTexts(int index, bool forWeighbridge) {
    if (index == 0) return {QString::fromLatin1(forWeighbridge ? kForWeighbridge : kForMaterial)};
    if (index < 0 || index >= static_cast<int>(std::size(kTexts))) return {};
    QStringList texts{QString::fromLatin1(kTexts[index])};
    if (index == 4) {
        texts << QStringLiteral(
            "There is a sample web page, veltrane-sample.html in the program directory, that shows the live "
            "weight and each weighment from Veltrane's web feed (tab \"Web feed\"). The first sample button "
            "opens it in the browser.");
    }
    return texts;
}

}  // namespace veltrane
