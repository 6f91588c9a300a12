#include "ui/MenuBarStyleU.h"

#include <QPainter>
#include <QStyleOptionMenuItem>

namespace {
constexpr int IconSide = 15;
constexpr int IconTextGap = 3;

const QStyleOptionMenuItem* ItemWithIconAndText(const QStyleOption* option)
{
    const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
    return item && !item->icon.isNull() && !item->text.isEmpty() ? item : nullptr;
}

int TextWidth(const QStyleOptionMenuItem& item)
{
    QString plain = item.text;
    plain.remove(QLatin1Char('&'));
    return item.fontMetrics.horizontalAdvance(plain);
}
}

TMenuBarStyle::TMenuBarStyle(QObject* parent)
{
    setParent(parent);
}

void TMenuBarStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const
{
    const QStyleOptionMenuItem* item = element == CE_MenuBarItem ? ItemWithIconAndText(option) : nullptr;
    if (!item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionMenuItem background = *item;
    background.icon = QIcon();
    background.text.clear();
    QProxyStyle::drawControl(element, &background, painter, widget);

    const bool enabled = item->state & State_Enabled;
    const int width = IconSide + IconTextGap + TextWidth(*item);
    const QRect content(item->rect.x() + (item->rect.width() - width) / 2, item->rect.y(), width, item->rect.height());
    const QPixmap pixmap = item->icon.pixmap(QSize(IconSide, IconSide), painter->device()->devicePixelRatioF(),
                                             enabled ? QIcon::Normal : QIcon::Disabled);
    drawItemPixmap(painter, QRect(content.x(), content.y(), IconSide, content.height()), Qt::AlignCenter, pixmap);
    const QRect textRect = content.adjusted(IconSide + IconTextGap, 0, 0, 0);
    drawItemText(painter, textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, item->palette, enabled,
                 item->text, QPalette::ButtonText);
}

QSize TMenuBarStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                                      const QWidget* widget) const
{
    const QStyleOptionMenuItem* item = type == CT_MenuBarItem ? ItemWithIconAndText(option) : nullptr;
    if (!item)
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    const QSize both(IconSide + IconTextGap + TextWidth(*item),
                     std::max(IconSide, item->fontMetrics.height()));
    return QProxyStyle::sizeFromContents(type, option, both, widget);
}
