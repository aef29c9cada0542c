#pragma once
#include <locale.h>

namespace arc {

// A UTF-8 locale for the calling thread while libarchive reads or writes an
// archive, so that names are converted as UTF-8 whatever the program's
// locale; the process locale is left alone.
class Utf8Locale {
public:
    Utf8Locale()
    {
        static locale_t utf8 = [] {
            for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
                locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
                if (l)
                    return l;
            }
            return static_cast<locale_t>(nullptr);
        }();
        if (utf8)
            old_ = uselocale(utf8);
    }
    ~Utf8Locale()
    {
        if (old_)
            uselocale(old_);
    }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;

private:
    locale_t old_ = nullptr;
};

} // namespace arc
