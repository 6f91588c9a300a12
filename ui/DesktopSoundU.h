#pragma once
// Event sounds of the desktop's sound theme, played through libcanberra where
// the program was built with it. QApplication::beep, muted on most desktops
// and silent on Wayland, is only the fallback.

// The freedesktop event the information sound of the designs maps to.
inline constexpr char InformationSound[] = "dialog-information";

// Returns at once; the sound plays in the background.
void PlayDesktopSound(const char* eventId);
