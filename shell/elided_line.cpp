#include "shell/elided_line.h"

#include <QPainter>

namespace veltrane {

ElidedLine::ElidedLine(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
}

void ElidedLine::setText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    setToolTip(text);
    update();
}

QString ElidedLine::shownText() const {
    const int margin = frameWidth() + 3;
    return fontMetrics().elidedText(m_text, Qt::ElideMiddle, width() - 2 * margin);
}

QSize ElidedLine::sizeHint() const {
    return {200, fontMetrics().height() + 2 * (frameWidth() + 3)};
}

QSize ElidedLine::minimumSizeHint() const {
    return {40, sizeHint().height()};
}

void ElidedLine::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const int margin = frameWidth() + 3;
    painter.drawText(rect().adjusted(margin, 0, -margin, 0), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}

}  // namespace veltrane
