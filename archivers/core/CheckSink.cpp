#include "core/CheckSink.h"

namespace arc {

Step CheckSink::BeginMember(const Member& member)
{
    return decode_ && member.type == Member::File ? Step::Write : Step::Skip;
}

void CheckSink::EndMember(bool ok, int error, const std::string&)
{
    if (!ok && error_ == 0)
        error_ = error ? error : ARCERR_DAMAGED;
}

void CheckSink::Fail(int error, const std::string&)
{
    if (error_ == 0)
        error_ = error ? error : ARCERR_DAMAGED;
}

} // namespace arc
