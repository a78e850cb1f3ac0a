#pragma once
// A one-line read-only box for messages longer than the window is wide: it shows the beginning and the
// end of the text with "…" in the middle, where a line edit would show only one end, and the whole
// text is its tooltip. Sentences here name what failed at the start and what follows at the end.

#include <QFrame>
#include <QString>

namespace veltrane {

class ElidedLine final : public QFrame {
    Q_OBJECT
public:
    explicit ElidedLine(QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // What is painted for the present width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

}  // namespace veltrane
