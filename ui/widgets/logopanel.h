// The maker's small panel at the right end of the toolbar row: an icon and the caption in a
// decorative font.
#pragma once

#include <QFrame>

class QLabel;

namespace zelv {

class LogoPanel : public QFrame {
    Q_OBJECT
public:
    explicit LogoPanel(const QString &caption, QWidget *parent = nullptr);

    QString caption() const;
    // The family the caption is drawn in: "Chaucer" where installed, otherwise a decorative
    // family that exists on this machine.
    QString fontFamily() const;
    static QString chooseDecorativeFamily();

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QLabel *m_icon;
    QLabel *m_caption;
};

} // namespace zelv
