// The text viewer for release notes, Form3: a window of its own whose text box, Text1, fills
// it and draws code page 437 art as drawn, with the menu popup. Loaded when first used, it
// stays loaded and is shown on demand.
#pragma once

#include "core/windowsurface.h"

#include <QWidget>

class QMenu;

namespace zelv {

class Cp437View;

class Form3 : public QWidget, public TextViewer {
    Q_OBJECT
public:
    explicit Form3(QWidget *parent = nullptr);

    Cp437View *Text1;
    QMenu *popup;

    // TextViewer
    void setText(const QString &text) override;
    QString text() const override;
    void show(bool takeFocus) override;
    void close() override;
    bool isVisible() const override;
    void place(const TwipsRect &rect) override;
    TwipsRect placement() const override;

public slots:
    void maximize_Click();
    void help_Click();

signals:
    // The menu's "Display NFO" and "Help", which the main window answers as its own.
    void dnfoRequested();
    void helpRequested();

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // The outer size that shows a standard description (45 columns, 10 lines) whole in the
    // view's font, frame left out.
    QSize descriptionSize() const;
};

} // namespace zelv
