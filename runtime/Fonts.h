// The windows' font. The forms name "ＭＳ Ｐゴシック"; on Linux that name is
// mapped to IPAPGothic (fonts-ipafont-gothic), a proportional Gothic of the
// same family of metrics, so Japanese text renders with real glyphs. A copy
// of the program that brings its fonts along (a publisher's copy, for
// machines without a Japanese font) has them in the folder "fonts" of the
// program's own folder; they are registered with the application.
#pragma once
#include <QFont>

// Registers the substitution and the fonts brought along, once; called by
// FormFont and at start-up (after the application object exists).
void InstallFontSubstitutes();
// "ＭＳ Ｐゴシック" at the given height in pixels.
QFont FormFont(int pixelHeight, bool bold = false, bool underline = false);
