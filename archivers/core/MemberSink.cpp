#include "core/MemberSink.h"

#include "core/Payload.h"

#include <algorithm>
#include <ctime>
#include <sys/stat.h>
#include <vector>

namespace arc {

void MemberSink::LimitTo(uint64_t archiveSize)
{
    constexpr uint64_t base = 16u << 20, perByte = 2u << 20;
    allowance_ = archiveSize > (UINT64_MAX - base) / perByte ? UINT64_MAX : base + archiveSize * perByte;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // The fuzz build (scripts/fuzz) stops every walk at 64 MiB of output:
    // a small archive may rightly decode to gigabytes, which under the
    // sanitizers would pass the time-out and be reported as a hang.
    allowance_ = std::min<uint64_t>(allowance_, uint64_t(64) << 20);
#endif
}

bool MemberSink::Spend(uint64_t size)
{
    if (halted_)
        return false;
    if (size > allowance_ - spent_) {
        halted_ = true;
        Fail(ARCERR_DAMAGED, "the data decodes to more than the archive can hold");
        return false;
    }
    spent_ += size;
    return true;
}

bool MemberSink::Write(const void* data, size_t size)
{
    if (!Spend(size))
        return false;
    return OnWrite(data, size);
}

bool MemberSink::Hole(uint64_t size) { return !halted_ && OnHole(size); }

bool MemberSink::OnHole(uint64_t size)
{
    static const std::vector<char> zeros(65536, 0);
    while (size > 0) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(size, zeros.size()));
        if (!OnWrite(zeros.data(), n))
            return false;
        size -= n;
    }
    return true;
}

bool MemberSink::AtHeader(uint64_t position)
{
    if (headers_.insert(position).second)
        return true;
    halted_ = true;
    Fail(ARCERR_DAMAGED, "the same header comes again at offset " + std::to_string(position));
    return false;
}

bool MemberSink::EndDecodedMember(int r, const std::string& name, const char* badData)
{
    if (r != 0) {
        const char* why = r == ARCERR_CRC ? badData : r == ARCERR_WRITE ? "not written" : "damaged data";
        EndMember(false, r == ARCERR_WRITE && Stopped() ? 0 : r, "error: " + name + ": " + why);
        return r == ARCERR_CRC && !Stopped();
    }
    EndMember(true);
    return !Stopped();
}

void MemberSink::EndWalk(int rc, const std::string& path, const char* kind)
{
    if (rc == ARCERR_NOT_ARCHIVE)
        Fail(rc, path + ": not " + kind);
    else if (rc != 0)
        Fail(rc, path + ": damaged archive");
}

uint16_t DosDate(int64_t t)
{
    if (t < 0)
        return 0;
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm) || tm.tm_year < 80)
        return 0;
    return static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

uint16_t DosTime(int64_t t)
{
    if (t < 0)
        return 0;
    time_t tt = static_cast<time_t>(t);
    struct tm tm {};
    if (!localtime_r(&tt, &tm))
        return 0;
    return static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
}

int64_t FromDosDateTime(uint16_t date, uint16_t time)
{
    struct tm tm {};
    tm.tm_year = ((date >> 9) & 0x7F) + 80;
    tm.tm_mon = ((date >> 5) & 0x0F) - 1;
    tm.tm_mday = date & 0x1F;
    tm.tm_hour = (time >> 11) & 0x1F;
    tm.tm_min = (time >> 5) & 0x3F;
    tm.tm_sec = (time & 0x1F) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mday == 0)
        return -1;
    return static_cast<int64_t>(mktime(&tm));
}

uint64_t ArchiveSizeOf(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    return size - std::min(size, PayloadStart(path));
}

} // namespace arc
