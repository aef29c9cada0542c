#include "core/SecondChance.h"

#include <map>
#include <set>
#include <utility>

namespace arc {
namespace {

bool Retryable(int error)
{
    return error == ARCERR_DAMAGED || error == ARCERR_CRC || error == ARCERR_METHOD || error == ARCERR_NOT_ARCHIVE;
}

// A member's identity across the two walks: its name and how many members
// of that name came before it.
using Key = std::pair<std::string, int>;

struct Held {
    int error = 0;
    std::string why;
};

// What the first walk learnt.
struct FirstWalk {
    std::map<std::string, int> counts;
    std::map<Key, Member> members;
    std::set<Key> settled;     // passed on to the sink, for good or ill
    std::map<Key, Held> pending; // abandoned, for the second decoder
    bool gaveUp = false;       // an archive-level failure was held back
    Held failure;
};

class FirstPass : public MemberSink {
public:
    FirstPass(MemberSink& sink, FirstWalk& walk) : sink_(sink), walk_(walk) {}

    Step BeginMember(const Member& member) override
    {
        key_ = Key(member.name, walk_.counts[member.name]++);
        walk_.members[key_] = member;
        Step step = sink_.BeginMember(member);
        if (step == Step::Skip)
            walk_.settled.insert(key_);
        inMember_ = step == Step::Write;
        return step;
    }
    void EndMember(bool ok, int error, const std::string& why) override
    {
        if (!inMember_)
            return;
        inMember_ = false;
        if (!ok && Retryable(error) && !sink_.Stopped()) {
            sink_.AbandonMember(why.empty() ? why : why + " (left to the second decoder)");
            walk_.pending[key_] = Held{error, why};
            return;
        }
        sink_.EndMember(ok, error, why);
        walk_.settled.insert(key_);
    }
    void AbandonMember(const std::string& why) override
    {
        if (!inMember_)
            return;
        inMember_ = false;
        sink_.AbandonMember(why);
        walk_.pending[key_] = Held{ARCERR_DAMAGED, why};
    }
    // A failure the second decoder may get past: the first reader has given
    // up (at a header, or through a guard while a member was open, which
    // that member shares).
    void Fail(int error, const std::string& message) override
    {
        if (!Retryable(error)) {
            sink_.Fail(error, message);
            return;
        }
        sink_.Note("error: " + message + " (left to the second decoder)");
        if (!walk_.gaveUp)
            walk_.failure = Held{error, message};
        walk_.gaveUp = true;
        if (inMember_)
            EndMember(false, error, "error: " + message);
    }
    void Note(const std::string& line) override { sink_.Note(line); }

protected:
    bool OnWrite(const void* data, size_t size) override { return sink_.Write(data, size); }
    bool OnHole(uint64_t size) override { return sink_.Hole(size); }
    bool OnStopped() const override { return sink_.Stopped(); }

private:
    MemberSink& sink_;
    FirstWalk& walk_;
    Key key_;
    bool inMember_ = false;
};

class SecondPass : public MemberSink {
public:
    SecondPass(MemberSink& sink, FirstWalk& walk, bool decodeAll) : sink_(sink), walk_(walk), decodeAll_(decodeAll) {}

    Step BeginMember(const Member& member) override
    {
        discard_ = false;
        Key key = Identify(member);
        bool wanted = walk_.pending.count(key) || (walk_.gaveUp && !walk_.members.count(key));
        if (!wanted || resolved_.count(key)) {
            if (decodeAll_ && member.type == Member::File) {
                discard_ = true;
                return Step::Write;
            }
            return Step::Skip;
        }
        resolved_.insert(key);
        key_ = key;
        Member m = member;
        auto known = walk_.members.find(key);
        if (known != walk_.members.end())
            m.name = known->second.name;
        m.altName.clear();
        return sink_.BeginMember(m);
    }
    void EndMember(bool ok, int error, const std::string& why) override
    {
        if (discard_) {
            discard_ = false;
            return;
        }
        // When neither decoder reads a member, the first one's reason is
        // the one given.
        auto held = walk_.pending.find(key_);
        if (!ok && Retryable(error) && held != walk_.pending.end())
            sink_.EndMember(false, held->second.error, held->second.why);
        else
            sink_.EndMember(ok, error, why);
    }
    void AbandonMember(const std::string& why) override
    {
        if (discard_) {
            discard_ = false;
            return;
        }
        sink_.EndMember(false, ARCERR_DAMAGED, why);
    }
    void Fail(int error, const std::string& message) override
    {
        if (discard_) {
            // The walk cannot go on past a member it could not decode.
            discard_ = false;
        }
        if (!failed_)
            failure_ = Held{error, message};
        failed_ = true;
    }
    void Note(const std::string& line) override { sink_.Note(line); }

    bool Failed() const { return failed_; }
    const Held& Failure() const { return failure_; }
    bool Resolved(const Key& key) const { return resolved_.count(key) != 0; }

protected:
    bool OnWrite(const void* data, size_t size) override { return discard_ || sink_.Write(data, size); }
    bool OnHole(uint64_t size) override { return discard_ || sink_.Hole(size); }
    bool OnStopped() const override { return sink_.Stopped(); }

private:
    Key Identify(const Member& member)
    {
        // The name the first walk knows decides; a second reading of the
        // name is tried when the first is unknown.
        const std::string* name = &member.name;
        if (!walk_.counts.count(member.name) && !member.altName.empty() && walk_.counts.count(member.altName))
            name = &member.altName;
        return Key(*name, counts_[*name]++);
    }

    MemberSink& sink_;
    FirstWalk& walk_;
    bool decodeAll_;
    bool discard_ = false;
    Key key_;
    std::map<std::string, int> counts_;
    std::set<Key> resolved_;
    bool failed_ = false;
    Held failure_;
};

} // namespace

void ReadTwice(const std::string& path, MemberSink& sink, const ReadFunction& first, const ReadFunction& second,
               bool decodeAll)
{
    FirstWalk walk;
    {
        FirstPass pass(sink, walk);
        pass.LimitTo(ArchiveSizeOf(path));
        first(path, pass);
    }
    if (sink.Stopped() || (walk.pending.empty() && !walk.gaveUp))
        return;

    SecondPass pass(sink, walk, decodeAll);
    pass.LimitTo(ArchiveSizeOf(path));
    if (!sink.Stopped())
        second(path, pass);
    if (sink.Stopped())
        return;
    for (auto& [key, held] : walk.pending) {
        if (!pass.Resolved(key))
            sink.Fail(held.error, held.why.empty() ? key.first + ": damaged data" : held.why);
    }
    if (walk.gaveUp && pass.Failed()) {
        // Neither reader came to the end: the first one's reason stands.
        sink.Fail(walk.failure.error, walk.failure.why);
    }
}

} // namespace arc
