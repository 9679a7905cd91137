// The main window.
#pragma once

#include <QMainWindow>

namespace zelv {

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    explicit Form1(QWidget *parent = nullptr);
};

} // namespace zelv
