#include "widgets/Colors.h"

#include <QGuiApplication>

#include <optional>

namespace {
constexpr TColor SystemColorFlag = 0x80000000;
constexpr TColor KindMask = 0xFF000000;

std::optional<QPalette::ColorRole> SystemColorRole(quint32 index)
{
    switch (index) {
    case 5: return QPalette::Base;             // window background
    case 8: return QPalette::WindowText;
    case 13: return QPalette::Highlight;
    case 14: return QPalette::HighlightedText;
    case 15: return QPalette::Button;          // button face
    // Dark rather than Mid: the grey of a button's shaded edge
    case 16: return QPalette::Dark;            // button shadow
    case 18: return QPalette::ButtonText;
    case 20: return QPalette::Light;           // button highlight
    case 21: return QPalette::Shadow;          // 3-D dark shadow
    case 22: return QPalette::Midlight;        // 3-D light
    case 23: return QPalette::ToolTipText;
    case 24: return QPalette::ToolTipBase;
    default: return std::nullopt;
    }
}
}

QColor VclColor(TColor value)
{
    return VclColor(value, QGuiApplication::palette());
}

QColor VclColor(TColor value, const QPalette& palette)
{
    switch (value & KindMask) {
    case 0:
        return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
    case SystemColorFlag:
        if (const auto role = SystemColorRole(value & ~KindMask))
            return palette.color(QPalette::Active, *role);
        return {};
    default:
        return {};
    }
}
