// The least a Qt program does to show a window: the yardstick for the program's own start-up.
// It shows an empty window and quits as soon as that window is first painted.
#include <QApplication>
#include <QWidget>

namespace {

class EmptyWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_painted)
            return;
        m_painted = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    EmptyWindow window;
    window.resize(640, 480);
    window.show();
    return app.exec();
}
