#include "form1.h"

namespace zelv {

Form1::Form1(QWidget *parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Zelvant32"));
    resize(640, 480);
}

} // namespace zelv
