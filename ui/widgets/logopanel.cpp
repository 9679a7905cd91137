#include "logopanel.h"

#include "artwork.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>

namespace zelv {

namespace {

constexpr int kIconSize = 17;
// The room the caption is fitted into.
constexpr int kCaptionWidth = 37;
constexpr int kCaptionHeight = 21;

const char *const kPreferredFamily = "Chaucer";
// Blackletter families close in spirit, as packaged by Debian (fonts-gotico-antiqua) and others.
const char *const kDecorativeFamilies[] = {
    "Hamlet",
    "Jessen",
    "Rusch",
    "Zainer",
    "Fust & Schoeffer",
    "Parix",
    "Rot",
    "UnifrakturMaguntia",
    "UnifrakturCook",
    "Old English Text MT",
};

QString installedFamily(const QStringList &families, const QString &wanted)
{
    for (const QString &f : families) {
        if (f.compare(wanted, Qt::CaseInsensitive) == 0)
            return f;
    }
    return QString();
}

bool isDecorative(const QString &family)
{
    if (family.compare(QLatin1String(kPreferredFamily), Qt::CaseInsensitive) == 0)
        return true;
    for (const char *f : kDecorativeFamilies) {
        if (family.compare(QLatin1String(f), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The largest size at which the caption still fits its room.
QFont fittedFont(QFont font, const QString &caption)
{
    for (int points = 14; points > 5; --points) {
        font.setPointSize(points);
        const QFontMetrics metrics(font);
        if (metrics.horizontalAdvance(caption) <= kCaptionWidth && metrics.height() <= kCaptionHeight)
            break;
    }
    return font;
}

} // namespace

QString LogoPanel::chooseDecorativeFamily()
{
    const QStringList families = QFontDatabase::families();
    QString found = installedFamily(families, QLatin1String(kPreferredFamily));
    for (const char *f : kDecorativeFamilies) {
        if (!found.isEmpty())
            break;
        found = installedFamily(families, QLatin1String(f));
    }
    if (!found.isEmpty())
        return found;
    // Nothing decorative: whatever serif face the machine resolves to.
    QFont serif;
    serif.setStyleHint(QFont::Serif);
    serif.setFamilies({QStringLiteral("serif")});
    return QFontInfo(serif).family();
}

LogoPanel::LogoPanel(const QString &caption, QWidget *parent)
    : QFrame(parent)
    , m_icon(new QLabel(this))
    , m_caption(new QLabel(caption, this))
{
    m_icon->setPixmap(artworkIcon(QStringLiteral("logo")).pixmap(kIconSize, kIconSize));
    m_icon->setFixedSize(kIconSize, kIconSize);

    const QString family = chooseDecorativeFamily();
    QFont font(family);
    font.setItalic(!isDecorative(family)); // a plain serif needs some flourish
    m_caption->setFont(fittedFont(font, caption));
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setMinimumSize(kCaptionWidth, kCaptionHeight);

    // Clicks anywhere on the panel belong to the panel.
    m_icon->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_caption->setAttribute(Qt::WA_TransparentForMouseEvents);
    setCursor(Qt::PointingHandCursor);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(2);
    layout->addWidget(m_icon);
    layout->addWidget(m_caption);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString LogoPanel::caption() const { return m_caption->text(); }

QString LogoPanel::fontFamily() const { return m_caption->font().family(); }

void LogoPanel::mouseReleaseEvent(QMouseEvent *event)
{
    QFrame::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

} // namespace zelv
