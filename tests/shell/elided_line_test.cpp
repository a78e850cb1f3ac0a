// The status line: a message wider than the box keeps both of its ends, and the whole of it is the tooltip.
#include "shell/elided_line.h"

#include <gtest/gtest.h>

TEST(ElidedLine, ALongMessageKeepsItsStartAndItsEndAndTheWholeIsTheTooltip) {
    veltrane::ElidedLine line;
    line.resize(300, line.sizeHint().height());
    const QString message = QStringLiteral(
        "Broker mqtt.plant-office.example:8883 is not reachable (the connection was lost); weighments wait "
        "in the weight log and go out when it is back");
    line.setText(message);
    const QString shown = line.shownText();
    EXPECT_LT(shown.size(), message.size());
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Broker mqtt"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("back"))) << shown.toStdString();
    EXPECT_EQ(line.toolTip(), message);
    EXPECT_EQ(line.text(), message);

    line.resize(2000, line.height());
    EXPECT_EQ(line.shownText(), message) << "a wide box shows the whole message";
}
