// The program's style: the platform's own, except for the few images it would read from files.
#pragma once

#include <QProxyStyle>

namespace zelv {

class ProgramStyle : public QProxyStyle {
    Q_OBJECT
public:
    ProgramStyle();

    // A toolbar's overflow button gets arrows drawn by the style itself. The stock image is a
    // PNG file, and reading it makes Qt load every image format plugin at start-up: Qt SVG
    // and JPEG among them, six libraries opened for a button seldom shown.
    QIcon standardIcon(StandardPixmap icon, const QStyleOption *option = nullptr,
                       const QWidget *widget = nullptr) const override;
};

} // namespace zelv
