// A 3-D status panel with a caption and an optional progress fill behind it.
#pragma once

#include <QColor>
#include <QFontMetrics>
#include <QFrame>

namespace zelv {

class StatusPanel : public QFrame {
    Q_OBJECT
public:
    explicit StatusPanel(QWidget *parent = nullptr);

    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }

    // Alignment codes: 0 left top, 1 left middle, 2 left bottom, 3 right top, 4 right middle,
    // 5 right bottom, 6 centre top, 7 centre middle, 8 centre bottom.
    static constexpr int kLeftMiddle = 1;
    static constexpr int kCentreMiddle = 7;
    void setAlignmentCode(int code);
    int alignmentCode() const { return m_alignment; }

    void setForeColor(const QColor &color);

    // Progress fill style: 0 no bar, 1 a bar filling from left to right behind the caption.
    static constexpr int kNoBar = 0;
    static constexpr int kBarFromLeft = 1;
    void setFloodType(int type);
    // 0 to 100; values outside are clamped.
    void setFloodPercent(int percent);
    int floodPercent() const { return m_floodPercent; }

    // Caption style: 0 plain, 4 inset (engraved) text.
    static constexpr int kPlain = 0;
    static constexpr int kInset = 4;
    void setFont3D(int style);

signals:
    void mousePressed(Qt::MouseButton button, const QPoint &globalPos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    QString m_caption;
    int m_alignment = 7;
    QColor m_foreColor = Qt::black;
    int m_floodType = 0;
    int m_floodPercent = 0;
    int m_font3D = 0;
};

// The caption as it fits width: cut in the middle, but a count at its end ("12 of 5000")
// stays whole and the text before it gives way.
QString elidedCaption(const QFontMetrics &metrics, const QString &caption, int width);

} // namespace zelv
