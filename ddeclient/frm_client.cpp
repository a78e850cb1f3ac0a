#include "frm_client.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace quorlink {
namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

}  // namespace

FrmClient::FrmClient(std::function<void()> beep, QWidget* parent)
    : QWidget(parent), m_beep(beep ? std::move(beep) : std::function<void()>(&QApplication::beep)) {
    setObjectName(QStringLiteral("frmClient"));
    setWindowTitle(QStringLiteral("Veltrane DDE client - simple one !!!!!"));

    auto* intro =
        new QLabel(QStringLiteral("A demonstration DDE client that gets truck weight from Veltrane."));
    intro->setWordWrap(true);

    Frame1 = named(new QGroupBox(QStringLiteral("DDE Server configuration")), "Frame1");
    textServerApp = named(new QLineEdit(QStringLiteral("veltrane")), "textServerApp");
    texttopic = named(new QLineEdit(QStringLiteral("veltrane")), "texttopic");
    weightlink = named(new QLineEdit(QStringLiteral("weightdata")), "weightlink");
    auto* serverForm = new QFormLayout(Frame1);
    serverForm->addRow(QStringLiteral("DDE Server App:"), textServerApp);
    serverForm->addRow(QStringLiteral("DDE Topic"), texttopic);
    serverForm->addRow(QStringLiteral("Link weight from:"), weightlink);

    Frame2 = named(new QGroupBox(QStringLiteral("Values read from Veltrane")), "Frame2");
    weight = named(new QLineEdit, "weight");
    auto* valueForm = new QFormLayout(Frame2);
    valueForm->addRow(QStringLiteral("Weight from Veltrane:"), weight);

    READveltrane = named(new QPushButton(QStringLiteral("Read values from Veltrane")), "READveltrane");
    Check1 = named(new QCheckBox(QStringLiteral("Get data from Veltrane automatically")), "Check1");
    LabelError = named(new QLabel(QStringLiteral("Error")), "LabelError");
    LabelError->setStyleSheet(QStringLiteral("color: red;"));
    // Nothing has failed before the first read: the label only ever reports a read that did.
    LabelError->hide();

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(200);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addWidget(Frame1);
    layout->addWidget(Frame2);
    layout->addWidget(READveltrane);
    layout->addWidget(Check1);
    layout->addWidget(LabelError);

    connect(READveltrane, &QPushButton::clicked, this, [this] { read(); });
    connect(Timer1, &QTimer::timeout, this, [this] { read(); });
    // clicked, not toggled: only a change made on the screen switches the mode.
    connect(Check1, &QCheckBox::clicked, this, [this](bool ticked) { onCheck1Clicked(ticked); });
}

void FrmClient::read() {
    // Waiting for the server lets timer ticks run; a tick that lands inside a read is that read.
    if (m_reading) return;
    m_reading = true;
    m_conversation.close();
    const QString item = weightlink->text();
    bool ok = m_conversation.open(textServerApp->text());
    // With no item the conversation is only opened: nothing is requested and the box keeps its text.
    if (ok && !item.isEmpty()) {
        const std::optional<QString> answer = m_conversation.request(texttopic->text(), item);
        ok = answer.has_value();
        if (ok) weight->setText(*answer);
    }
    if (ok) {
        Frame2->setTitle(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        LabelError->hide();
    } else {
        m_beep();
        weight->clear();
        const QString refusal = m_conversation.refusal();
        LabelError->setText(refusal.isEmpty() ? QStringLiteral("Error : Veltrane is not on!!") : refusal);
        LabelError->show();
    }
    m_reading = false;
}

void FrmClient::onCheck1Clicked(bool ticked) {
    READveltrane->setEnabled(!ticked);
    if (ticked)
        Timer1->start();
    else
        Timer1->stop();
}

}  // namespace quorlink
