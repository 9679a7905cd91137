// The About window, also the splash at start-up: a turtle carrying the program's name and
// version, shaped like its picture, closed by a click anywhere on it or after six seconds.
#pragma once

#include "widgets/animatedicon.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QWidget>

class QLabel;
class QTimer;

namespace zelv {

class AboutWindow : public QWidget {
    Q_OBJECT
public:
    // Loading the window shows it at once and starts its six seconds.
    explicit AboutWindow(QWidget *parent = nullptr);

    // The loaded window, loaded now when there is none. A closed window is on its way out even
    // while its deletion is still pending, so it does not count.
    static AboutWindow *load(QPointer<AboutWindow> &window);

    AnimatedIcon *AniIcon1; // the storm, hidden until the logo panel asks for it
    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3; // the version, kVersionText
    QTimer *Timer1; // closes the window six seconds after it was loaded

    static constexpr int kCloseAfterMs = 6000;
    // The size the picture is rendered in at build time (resources/CMakeLists.txt).
    static constexpr QSize kPictureSize{360, 250};

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QIcon m_picture;
};

// The thunder that goes with the About window: thunder.wav of the program folder, played in the
// background by the player module beside the program (thunder.so). Without the file, the module
// or a sound device it stays silent.
class AboutThunder : public QObject {
    Q_OBJECT
public:
    explicit AboutThunder(const QString &hostProgramFolder, QObject *parent = nullptr);

    // Starts the thunder, from its beginning when it is already rolling.
    void play();
    QString file() const { return m_file; }

    static constexpr char kFileName[] = "thunder.wav";

private:
    QString m_file;
};

} // namespace zelv
