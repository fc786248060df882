#include "ui/window_style.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionTab>
#include <QTabBar>

// The pictures live in a static library's resources, which only register when asked to.
static bool registerPictures() {
    Q_INIT_RESOURCE(resources);
    return true;
}

namespace tk7v {

namespace {

// The button pictures key out the colour of their bottom-left pixel, as the device's original
// buttons did. The window icon keeps every pixel: its dark frame is part of it.
QPixmap picture(const QString& name, bool keyed = true) {
    [[maybe_unused]] static const bool registered = registerPictures();
    QImage image =
        QImage(QStringLiteral(":/pictures/%1.xpm").arg(name)).convertToFormat(QImage::Format_ARGB32);
    if (image.isNull() || !keyed) return QPixmap::fromImage(image);
    const QRgb key = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == key) image.setPixel(x, y, qRgba(0, 0, 0, 0));
    return QPixmap::fromImage(image);
}

// The tab under the mouse is drawn in the hot-tracking colour, as the platform the design comes
// from does; Qt's Windows style leaves it plain.
class HotTrackStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
        if (element == CE_TabBarTabLabel && tab && (tab->state & State_MouseOver) &&
            (tab->state & State_Enabled)) {
            QStyleOptionTab hot(*tab);
            hot.palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
            hot.palette.setColor(QPalette::ButtonText, QColor(0, 0, 255));
            QProxyStyle::drawControl(element, &hot, painter, widget);
            return;
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

} // namespace

QIcon ConnectButtonIcon() {
    QIcon icon;
    icon.addPixmap(picture("connect_up"), QIcon::Normal, QIcon::Off);
    icon.addPixmap(picture("connect_up"), QIcon::Active, QIcon::Off);
    icon.addPixmap(picture("connect_disabled"), QIcon::Disabled, QIcon::Off);
    icon.addPixmap(picture("connect_disabled"), QIcon::Disabled, QIcon::On);
    icon.addPixmap(picture("connect_down"), QIcon::Normal, QIcon::On);
    icon.addPixmap(picture("connect_down"), QIcon::Active, QIcon::On);
    return icon;
}

QIcon PictureButtonIcon(const QString& name) {
    QIcon icon;
    icon.addPixmap(picture(name), QIcon::Normal);
    icon.addPixmap(picture(name + "_disabled"), QIcon::Disabled);
    return icon;
}

QIcon WindowIcon() {
    QIcon icon;
    icon.addPixmap(picture("icon16", false));
    icon.addPixmap(picture("icon32", false));
    return icon;
}

void UseHotTracking(QTabBar* tabs) {
    tabs->setAttribute(Qt::WA_Hover);
    auto* style = new HotTrackStyle;
    style->setParent(tabs);
    tabs->setStyle(style);
}

} // namespace tk7v
