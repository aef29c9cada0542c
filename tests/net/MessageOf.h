// The message of the exception of type E that f raises, or
// "(nothing raised)".
#pragma once
#include <string>

template <typename E, typename F>
std::string messageOf(F&& f)
{
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "(nothing raised)";
}
