// The windows' font. The forms name "ＭＳ Ｐゴシック"; on Linux that name is
// mapped to IPAPGothic (fonts-ipafont-gothic), a proportional Gothic of the
// same family of metrics, so Japanese text renders with real glyphs.
#pragma once
#include <QFont>

// Registers the substitution once; called by FormFont and at start-up.
void InstallFontSubstitutes();
// "ＭＳ Ｐゴシック" at the given height in pixels.
QFont FormFont(int pixelHeight, bool bold = false, bool underline = false);
