// The picture loads of skins and icons: JPEG through libjpeg, BMP and ICO
// through Qt's readers, from a file as the settings load reads them.
//
// Input: the file's bytes; both loads run on it (the skin load picks JPEG
// or BMP from the content, the icon load reads ICO).
//
// Checked: a load either raises the class library's exception or gives a
// picture that is not empty, in the format it promises.
#include "fuzz/FuzzApp.h"
#include "fuzz/FuzzSupport.h"
#include "runtime/Exceptions.h"
#include "runtime/Picture.h"

extern "C" int FUZZ_INITIALIZE(int*, char***)
{
    fuzz::EnsureApplication();
    return 0;
}

extern "C" int FUZZ_TEST_ONE_INPUT(const std::uint8_t* data, std::size_t size)
{
    fuzz::EnsureApplication();
    static const fuzz::Scratch scratch("picture");
    const std::string path = scratch / "picture";
    fuzz::WriteFile(path, fuzz::AsText(data, size));
    try {
        const QImage skin = LoadPictureFile(path);
        FUZZ_CHECK(!skin.isNull() && skin.format() == QImage::Format_RGB32, "skin");
    } catch (const Exception&) {
    }
    try {
        const QImage icon = LoadIconFile(path);
        FUZZ_CHECK(!icon.isNull() && icon.format() == QImage::Format_ARGB32, "icon");
    } catch (const Exception&) {
    }
    return 0;
}
