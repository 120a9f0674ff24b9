#pragma once
// The one face of every font of the user interface, and fonts made in it. The faces the program was
// designed for are not on a Linux machine; each is asked for by name first and followed by a face of
// the same metrics that the installation provides (fonts-liberation2 for Arial, fonts-noto-cjk for
// the Japanese and Chinese texts), so that texts take the room they were laid out for.

#include <QFont>
#include <QStringList>
#include <string>

namespace corvale::ui {

// "Meiryo UI" when the user-interface language is Japanese (language id 4), otherwise "Arial".
std::string GetUIFontName();
// The same for a given language id.
std::string UIFontNameFor(int languageId);

// The face of the user interface followed by its installed stand-ins, for a given language id.
QStringList UIFontFamiliesFor(int languageId);

// A font of the user-interface face (of the current language) by the height of a font request: a
// positive height is the height of the character cell, a negative one that of the characters
// themselves; both in pixels. Weight 400 is regular, 700 bold.
QFont MakeUiFont(int height, int weight);
// A font of the user-interface face by its size in tenths of a point.
QFont MakeUiPointFont(int pointSizeTenths, int weight);

}  // namespace corvale::ui
