// A check of an archive without writing anything: every header is read
// and, for the full check, every member decoded and its check value
// verified; the data goes nowhere.
#pragma once
#include "core/MemberSink.h"

namespace arc {

class CheckSink : public MemberSink {
public:
    explicit CheckSink(bool decode) : decode_(decode) {}

    Step BeginMember(const Member& member) override;
    void EndMember(bool ok, int error, const std::string& why) override;
    void AbandonMember(const std::string&) override {}
    void Fail(int error, const std::string& message) override;
    void Note(const std::string&) override {}

    bool Valid() const { return error_ == 0; }
    int Error() const { return error_; }

protected:
    bool OnWrite(const void*, size_t) override { return true; }
    bool OnHole(uint64_t) override { return true; }
    bool OnStopped() const override { return false; }

private:
    bool decode_;
    int error_ = 0;
};

} // namespace arc
