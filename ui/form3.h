// The text viewer for release notes, Form3: a window of its own with one text box, Text1,
// that fills it. Loaded when first used, it stays loaded and is shown on demand.
#pragma once

#include "core/windowsurface.h"

#include <QWidget>

class QPlainTextEdit;

namespace zelv {

class Form3 : public QWidget, public TextViewer {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);

    QPlainTextEdit *Text1;

    // TextViewer
    void setText(const QString &text) override;
    QString text() const override;
    void show(bool takeFocus) override;
    void close() override;
    bool isVisible() const override;
    void place(const TwipsRect &rect) override;
    TwipsRect placement() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
};

} // namespace zelv
