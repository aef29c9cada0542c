#include "core/Update.h"

#include "core/BgaWriter.h"
#include "core/CabWriter.h"
#include "core/Extraction.h"
#include "core/Files.h"
#include "core/LhaWriter.h"
#include "core/LibarchiveWriter.h"
#include "core/Progress.h"
#include "core/Readers.h"
#include "core/Sources.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arc {
namespace {

enum class Op { Add, Update, Freshen, Delete, Create };

struct Plan {
    Op op = Op::Add;
    SourceRules rules;
    bool junk = false;  // store file names without their folders
    bool store = false; // no compression
    int level = -1;
    bool bzip2 = false; // BZA, or tar with bzip2
    bool gzip = false;  // tar with gzip
};

bool Has(const Command& c, const std::string& sw)
{
    for (auto& s : c.switches)
        if (s == sw)
            return true;
    return false;
}

// The number after a switch's letters ("-z9" -> 9), -1 when there is none.
int LevelOf(const std::string& sw, size_t letters)
{
    if (sw.size() != letters + 1 || sw[letters] < '0' || sw[letters] > '9')
        return -1;
    return sw[letters] - '0';
}

bool EndsWith(const std::string& text, const char* tail)
{
    size_t n = std::strlen(tail);
    return text.size() >= n && strcasecmp(text.c_str() + text.size() - n, tail) == 0;
}

Plan PlanFor(Kind kind, const Command& c)
{
    Plan p;
    switch (kind) {
    case Kind::Lha:
        p.op = c.word == "f" ? Op::Freshen : c.word == "d" ? Op::Delete : Op::Update;
        p.junk = Has(c, "-x0");
        for (auto& sw : c.switches) {
            if (sw.compare(0, 2, "-z") == 0 && sw != "-z0")
                p.store = true;
            if (sw.size() > 3 && sw.compare(0, 3, "-jx") == 0)
                p.rules.excludes.push_back(sw.substr(3));
        }
        break;
    case Kind::Zip:
        p.op = c.word == "d" ? Op::Delete : c.word == "f" ? Op::Freshen
               : (c.word == "ru" || Has(c, "-u")) ? Op::Update
                                                  : Op::Add;
        p.rules.recurse = Has(c, "-r") || c.word == "ru";
        p.rules.folders = !Has(c, "-D");
        p.junk = Has(c, "-j");
        for (auto& sw : c.switches)
            if (LevelOf(sw, 1) >= 0)
                p.level = LevelOf(sw, 1);
        break;
    case Kind::Cab:
        p.rules.folders = false;
        p.rules.links = false;
        break;
    case Kind::Tar:
        p.op = Op::Create;
        for (auto& sw : c.switches) {
            if (sw.compare(0, 2, "-z") == 0 && (sw.size() == 2 || LevelOf(sw, 2) >= 0)) {
                p.gzip = true;
                p.level = LevelOf(sw, 2);
            } else if (sw.compare(0, 2, "-B") == 0 && (sw.size() == 2 || LevelOf(sw, 2) >= 0)) {
                p.bzip2 = true;
                p.level = LevelOf(sw, 2);
            }
        }
        break;
    case Kind::Bga:
        p.op = c.word == "d" ? Op::Delete : Op::Add;
        p.rules.folders = false;
        p.rules.links = false;
        p.bzip2 = EndsWith(c.archive, ".bza");
        for (auto& sw : c.switches)
            if (LevelOf(sw, 2) >= 0 && sw.compare(0, 2, "-l") == 0)
                p.level = LevelOf(sw, 2);
        break;
    default:
        break;
    }
    return p;
}

std::unique_ptr<ArchiveWriter> MakeWriter(Kind kind, const Plan& p, int fd)
{
    switch (kind) {
    case Kind::Lha:
        return std::make_unique<LhaWriter>(fd, p.store ? LhaWriter::Method::Lh0 : LhaWriter::Method::Lh5);
    case Kind::Zip:
        return std::make_unique<LibarchiveWriter>(fd, LibarchiveWriter::Format::Zip, p.level);
    case Kind::Tar:
        return std::make_unique<LibarchiveWriter>(fd,
                                                  p.gzip    ? LibarchiveWriter::Format::TarGzip
                                                  : p.bzip2 ? LibarchiveWriter::Format::TarBzip2
                                                            : LibarchiveWriter::Format::Tar,
                                                  p.level);
    case Kind::Cab:
        return std::make_unique<CabWriter>(fd, !p.store);
    case Kind::Bga:
        return std::make_unique<BgaWriter>(fd, p.bzip2, p.level);
    default:
        return nullptr;
    }
}

// Names compared without a folder's closing "/".
std::string KeyOf(std::string name)
{
    while (name.size() > 1 && name.back() == '/')
        name.pop_back();
    return name;
}

std::string FolderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string LeafOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Job {
public:
    Job(Kind kind, const Command& command, std::string& log)
        : kind_(kind), command_(command), plan_(PlanFor(kind, command)), log_(log)
    {
    }

    int Run();

private:
    void Note(const std::string& line) { log_ += LogLine(line) + "\n"; }
    void Keep(int error, const std::string& line)
    {
        if (result_ == 0)
            result_ = error;
        Note("error: " + line);
    }
    // Sends a progress state; false when the owner asks to abort.
    bool Progress(unsigned state, const Member& m, const std::string& source);
    std::string StoredName(const Source& s) const
    {
        return plan_.junk ? LeafOf(s.member.name) : s.member.name;
    }
    bool Newer(const Source& s, const Member& old) const
    {
        // DOS times are kept to two seconds.
        int64_t slack = kind_ == Kind::Lha || kind_ == Kind::Tar ? 0 : 1;
        return old.mtime < 0 || s.member.mtime > old.mtime + slack;
    }
    bool Deleted(const std::string& name) const
    {
        for (auto& pattern : command_.names)
            if (NameMatches(pattern, name, kind_ != Kind::Zip))
                return true;
        return false;
    }
    // Writes a new member from a source file; false when the command must
    // stop. *written tells whether the member went in (a member the format
    // cannot hold is refused and the command goes on).
    bool Put(const Source& s, bool* written = nullptr);
    // Writes an old member kept in the scratch file; an old member that
    // cannot be written again stops the command, so no member is lost.
    bool PutKept(const Member& m, int scratch, uint64_t size);

    friend class CopySink;
    Kind kind_;
    const Command& command_;
    Plan plan_;
    std::string& log_;
    std::unique_ptr<ArchiveWriter> writer_;
    std::vector<Source> sources_;
    std::map<std::string, size_t> byName_; // stored name -> source
    std::vector<bool> used_;
    std::vector<bool> replaced_; // the source replaced an old member
    int result_ = 0;
    bool stop_ = false;  // a write failed or the owner aborted
    bool changed_ = false;
    int deleted_ = 0;
};

bool Job::Progress(unsigned state, const Member& m, const std::string& source)
{
    EXTRACTINGINFOEX info{};
    info.FileSize = m.size;
    info.Attributes = m.attributes;
    info.Date = DosDate(m.mtime);
    info.Time = DosTime(m.mtime);
    std::snprintf(info.SourceFileName, sizeof info.SourceFileName, "%s", source.c_str());
    std::snprintf(info.DestFileName, sizeof info.DestFileName, "%s", m.name.c_str());
    if (!SendProgress(state, info))
        return true;
    Keep(ARCERR_ABORTED, "aborted by the owner window");
    stop_ = true;
    return false;
}

bool Job::Put(const Source& s, bool* written)
{
    if (written)
        *written = false;
    Member m = s.member;
    m.name = StoredName(s);
    if (!Progress(ARCEXTRACT_BEGIN, m, s.path))
        return false;
    std::string why;
    if (!writer_->Begin(m, why)) {
        if (!writer_->Error().empty()) {
            Keep(ARCERR_WRITE, why);
            stop_ = true;
            return false;
        }
        Keep(ARCERR_NAME, why);
        return true;
    }
    bool ok = true;
    if (m.type == Member::File) {
        int fd = OpenSource(command_.destination, s);
        if (fd < 0) {
            Keep(ARCERR_OPEN, s.path + ": " + std::strerror(errno));
            stop_ = true;
            return false;
        }
        std::vector<char> buffer(1 << 16);
        uint64_t left = m.size;
        while (ok && left > 0) {
            ssize_t n = read(fd, buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                Keep(ARCERR_OPEN, s.path + (n < 0 ? ": " + std::string(std::strerror(errno)) : ": shorter than it was"));
                ok = false;
                break;
            }
            ok = writer_->Write(buffer.data(), static_cast<size_t>(n));
            left -= static_cast<uint64_t>(n);
        }
        close(fd);
    }
    if (ok && !writer_->End())
        ok = false;
    if (!ok) {
        if (!writer_->Error().empty())
            Keep(ARCERR_WRITE, writer_->Error());
        stop_ = true;
        return false;
    }
    changed_ = true;
    if (written)
        *written = true;
    Note(m.name);
    return Progress(ARCEXTRACT_END, m, s.path);
}

bool Job::PutKept(const Member& m, int scratch, uint64_t size)
{
    std::string why;
    if (!writer_->Begin(m, why)) {
        Keep(writer_->Error().empty() ? ARCERR_NAME : ARCERR_WRITE, why + " (the archive is left as it was)");
        stop_ = true;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = lseek(scratch, 0, SEEK_SET) == 0;
    while (ok && size > 0) {
        ssize_t n = read(scratch, buffer.data(), static_cast<size_t>(std::min<uint64_t>(size, buffer.size())));
        if (n <= 0) {
            ok = false;
            break;
        }
        ok = writer_->Write(buffer.data(), static_cast<size_t>(n));
        size -= static_cast<uint64_t>(n);
    }
    if (!ok || !writer_->End()) {
        Keep(ARCERR_WRITE, writer_->Error().empty() ? std::string("cannot copy ") + m.name : writer_->Error());
        stop_ = true;
        return false;
    }
    return true;
}

// Takes the members of the old archive: each is decoded whole into a
// scratch file first (a member the first decoder abandons comes again from
// the second), then written, left out or replaced.
class CopySink : public MemberSink {
public:
    CopySink(Job& job, const std::string& folder) : job_(job), folder_(folder) {}
    ~CopySink() override
    {
        if (scratch_ >= 0)
            close(scratch_);
    }

    Step BeginMember(const Member& member) override
    {
        if (job_.stop_ || failed_)
            return Step::Stop;
        current_ = member;
        if (job_.plan_.op == Op::Delete && job_.Deleted(member.name)) {
            ++job_.deleted_;
            job_.changed_ = true;
            return Step::Skip;
        }
        auto it = job_.byName_.find(KeyOf(member.name));
        if (it != job_.byName_.end()) {
            const size_t i = it->second;
            if (!job_.used_[i]) {
                const Source& s = job_.sources_[i];
                bool replace = job_.plan_.op == Op::Add || job_.Newer(s, member);
                job_.used_[i] = true;
                if (replace) {
                    bool written = false;
                    job_.Put(s, &written);
                    if (job_.stop_)
                        return Step::Stop;
                    job_.replaced_[i] = written;
                    if (written)
                        return Step::Skip;
                    // Refused: the old member stays.
                }
            } else if (job_.replaced_[i]) {
                // Another old member of that name: the new one replaces
                // every copy, or extraction would end with the old data.
                job_.changed_ = true;
                return Step::Skip;
            }
        }
        if (scratch_ < 0)
            scratch_ = ScratchFile(folder_);
        if (scratch_ < 0 || ftruncate(scratch_, 0) != 0 || lseek(scratch_, 0, SEEK_SET) != 0) {
            Fail(ARCERR_WRITE, "no room for a scratch file");
            return Step::Stop;
        }
        size_ = 0;
        return Step::Write;
    }
    void EndMember(bool ok, int error, const std::string& why) override
    {
        if (!ok) {
            Fail(error ? error : ARCERR_DAMAGED, why.empty() ? current_.name + ": cannot be read" : why);
            return;
        }
        // The size is what was decoded (a header may give it modulo 4 GiB,
        // or not at all).
        Member kept = current_;
        kept.size = size_;
        job_.PutKept(kept, scratch_, size_);
    }
    void AbandonMember(const std::string&) override {}
    void Fail(int error, const std::string& message) override
    {
        if (!failed_)
            job_.Keep(error == ARCERR_WRITE ? error : ARCERR_DAMAGED,
                      message + " (the archive is left as it was)");
        failed_ = true;
    }
    void Note(const std::string&) override {}
    bool Failed() const { return failed_; }

protected:
    bool OnWrite(const void* data, size_t size) override
    {
        if (!WriteAll(scratch_, data, size)) {
            Fail(ARCERR_WRITE, std::string("no room for a scratch file: ") + std::strerror(errno));
            return false;
        }
        size_ += size;
        return true;
    }
    bool OnStopped() const override { return failed_ || job_.stop_; }

private:
    Job& job_;
    std::string folder_;
    Member current_;
    int scratch_ = -1;
    uint64_t size_ = 0;
    bool failed_ = false;
};

// An archive left with no member: LHA's end mark alone (or nothing), an
// empty BGA file. The readers take such a file for no archive at all, yet
// adding to it or deleting from it is what the user expects to work.
bool EmptyArchive(Kind kind, const std::string& path, const struct stat& st)
{
    if (kind == Kind::Bga)
        return st.st_size == 0;
    if (kind != Kind::Lha || st.st_size > 1)
        return false;
    if (st.st_size == 0)
        return true;
    char byte = 1;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    bool mark = fd >= 0 && read(fd, &byte, 1) == 1 && byte == 0;
    if (fd >= 0)
        close(fd);
    return mark;
}

// The new archive's file beside the old one: removed, with the writer
// dropped first (it may still hold the descriptor), unless it was renamed
// into place; so no failure, abort or exception leaves it behind.
struct TempArchive {
    std::unique_ptr<ArchiveWriter>& writer;
    int fd = -1;
    std::string path;
    ~TempArchive()
    {
        writer.reset();
        if (fd >= 0)
            close(fd);
        if (!path.empty())
            unlink(path.c_str());
    }
};

int Job::Run()
{
    // An archive reached through a link is updated where it lies; the link
    // stays a link.
    std::string archive = command_.archive;
    struct stat link {};
    if (lstat(archive.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = realpath(archive.c_str(), nullptr)) {
            archive = real;
            std::free(real);
        }
    }
    const std::string folder = FolderOf(archive);
    struct stat old {};
    const bool hadFile = stat(archive.c_str(), &old) == 0;
    if (hadFile && !S_ISREG(old.st_mode)) {
        Keep(ARCERR_OPEN, archive + ": not a file");
        return result_;
    }
    bool exists = hadFile && plan_.op != Op::Create;
    const bool empty = exists && EmptyArchive(kind_, archive, old);
    if (exists && !empty && !Recognises(kind_, archive)) {
        Keep(ARCERR_NOT_ARCHIVE, archive + ": not an archive of this kind; it is left as it was");
        return result_;
    }
    if (!exists && (plan_.op == Op::Delete || plan_.op == Op::Freshen)) {
        Keep(ARCERR_OPEN, "cannot open " + archive);
        return result_;
    }

    if (plan_.op != Op::Delete) {
        if (command_.destination.empty() && command_.names.empty()) {
            Keep(ARCERR_NO_FILES, "no files named");
            return result_;
        }
        SourceList list = CollectSources(command_.destination, command_.names, plan_.rules);
        for (auto& why : list.refused)
            Keep(ARCERR_UNSAFE, why);
        sources_ = std::move(list.sources);
        used_.assign(sources_.size(), false);
        replaced_.assign(sources_.size(), false);
        for (size_t i = 0; i < sources_.size(); ++i) {
            auto [it, fresh] = byName_.emplace(KeyOf(StoredName(sources_[i])), i);
            if (!fresh) {
                // Two files stored under one name (names without their
                // folders): the first stands, the second is refused.
                used_[i] = true;
                Keep(ARCERR_NAME, sources_[i].path + ": stored as " + it->first + " like "
                                      + sources_[it->second].path + "; left out");
            }
        }
        if (sources_.empty()) {
            Keep(ARCERR_NO_FILES, "no file matches the names given");
            return result_;
        }
        if (!list.matchedAll && result_ == 0)
            Keep(ARCERR_NO_FILES, "some names match no file");
    }

    // The new archive, beside the old one; readable by its owner only until
    // it has the old one's mode (a new archive gets the usual mode at once).
    static std::atomic<unsigned> counter{0};
    TempArchive temp{writer_, -1, {}};
    for (int attempt = 0; attempt < 100 && temp.fd < 0; ++attempt) {
        temp.path = folder + "/." + LeafOf(archive) + "." + std::to_string(getpid()) + "-" + std::to_string(++counter);
        temp.fd = open(temp.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, hadFile ? 0600 : 0666);
        if (temp.fd < 0 && errno != EEXIST)
            break;
    }
    if (temp.fd < 0) {
        temp.path.clear();
        Keep(ARCERR_WRITE, "cannot create a file beside " + archive + ": " + std::strerror(errno));
        return result_;
    }
    writer_ = MakeWriter(kind_, plan_, temp.fd);
    bool ok = writer_ != nullptr;
    if (ok && exists && !empty) {
        CopySink copy(*this, folder);
        ReadArchive(kind_, archive, copy);
        ok = !copy.Failed() && !stop_;
    }
    if (ok && plan_.op == Op::Delete && deleted_ == 0) {
        Keep(ARCERR_NO_FILES, "no member matches the names given; the archive is left as it was");
        ok = false;
    }
    if (ok && plan_.op != Op::Freshen) {
        for (size_t i = 0; ok && i < sources_.size(); ++i)
            if (!used_[i])
                ok = Put(sources_[i]) && !stop_;
    }
    if (ok && !changed_) {
        // Nothing to change: the old archive stays untouched, and where
        // there was none and no file went in, none is made.
        return result_;
    }
    if (ok && !writer_->Finish()) {
        Keep(ARCERR_WRITE, writer_->Error());
        ok = false;
    }
    writer_.reset();
    if (ok && hadFile && fchmod(temp.fd, old.st_mode & 07777) != 0)
        Note(std::string("the archive's mode could not be kept: ") + std::strerror(errno));
    if (ok && fsync(temp.fd) != 0) {
        Keep(ARCERR_WRITE, std::string("cannot write the archive: ") + std::strerror(errno));
        ok = false;
    }
    const int fd = temp.fd;
    temp.fd = -1;
    if (close(fd) != 0 && ok) {
        Keep(ARCERR_WRITE, std::string("cannot write the archive: ") + std::strerror(errno));
        ok = false;
    }
    if (ok && rename(temp.path.c_str(), archive.c_str()) != 0) {
        Keep(ARCERR_WRITE, "cannot replace " + archive + ": " + std::strerror(errno));
        ok = false;
    }
    if (ok)
        temp.path.clear();
    else if (result_ == 0)
        result_ = ARCERR_WRITE;
    return result_;
}

} // namespace

int RunUpdate(Kind kind, const Command& command, std::string& log)
{
    Job job(kind, command, log);
    return job.Run();
}

} // namespace arc
