// Pictures: JPEG decoded with libjpeg itself, BMP and ICO through Qt's
// readers. Results are QImage in Format_RGB32 (icons keep their alpha as
// ARGB32).
//
// The kind of a file is taken from its content (JPEG starts FF D8, BMP "BM",
// ICO 00 00 01 00), not from its extension. A file that cannot be read
// raises EFOpenError "ファイル %s は開けません"; content that is not a valid
// picture raises the class library's invalid-graphic text. A picture larger
// than Qt's allocation limit for images (QImageReader::allocationLimit, 256
// MiB by default) is not valid either: a JPEG that declares one fails with
// the libjpeg error of a too large image, before anything is allocated.
#pragma once
#include <QImage>

#include <string>
#include <string_view>

QImage DecodeJpeg(std::string_view bytes);
// BMP or JPEG (the skins).
QImage LoadPictureFile(const std::string& path);
// ICO, the largest image of the file.
QImage LoadIconFile(const std::string& path);
