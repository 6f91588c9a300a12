#pragma once
// Colour values as the window designs store them: 0x00BBGGRR for fixed
// colours (red in the low byte), 0x80000000 plus an index for the system's
// colours, which follow the palette. Every widget turns them into QColor here.

#include <QColor>
#include <QPalette>

using TColor = quint32;

constexpr TColor clBlack = 0x000000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clGray = 0x808080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGreen = 0x008000;
constexpr TColor clLightOrange = 0x71DCFF;
// Greyed text that still reads on white (contrast 4.5:1), whatever the theme.
constexpr TColor clGreyedOnWhite = 0x767676;

constexpr TColor clWindowText = 0x80000008;
constexpr TColor clBtnFace = 0x8000000F;
constexpr TColor clBtnShadow = 0x80000010;
constexpr TColor clBtnHighlight = 0x80000014;

// "No colour": leaves a fill out where a property allows it.
constexpr TColor clNone = 0x1FFFFFFF;

// The QColor of a colour value. System colours come from the given palette
// (the application's when none is given). clNone, an unknown system index and
// any other value that is neither kind give an invalid QColor.
QColor VclColor(TColor value);
QColor VclColor(TColor value, const QPalette& palette);
