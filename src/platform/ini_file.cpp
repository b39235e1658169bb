#include "platform/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>

namespace tarvik {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view Trim(std::string_view s) {
    s = TrimLeft(s);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The key name of a key line: the trimmed text before the first "=".
std::string_view KeyOf(std::string_view line) { return Trim(line.substr(0, line.find('='))); }

// The section name of a header line "[name]"; nullopt when the line is none.
std::optional<std::string_view> SectionOf(std::string_view line) {
    const std::string_view t = TrimLeft(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts to at most n bytes; a cut inside a UTF-8 sequence moves back to the
// start of that character so that no half character is returned.
std::string_view CutAtCharBoundary(std::string_view v, std::size_t n) {
    if (v.size() <= n) return v;
    std::size_t k = n;
    while (k > 0 && n - k < 3 && IsContinuationByte(v[k])) --k;
    if (IsContinuationByte(v[k])) k = n;  // not UTF-8: cut at the byte limit
    return v.substr(0, k);
}

std::string ErrorText(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::generic_category().message(err);
}

// Owns one file descriptor.
class TFd {
  public:
    explicit TFd(int fd) : Fd_(fd) {}
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    ~TFd() {
        if (Fd_ >= 0) ::close(Fd_);
    }
    int Get() const { return Fd_; }
    explicit operator bool() const { return Fd_ >= 0; }
    int Close() {
        const int fd = Fd_;
        Fd_ = -1;
        return ::close(fd);
    }

  private:
    int Fd_;
};

// Removes a temporary file unless released.
class TRemoveGuard {
  public:
    explicit TRemoveGuard(std::string path) : Path_(std::move(path)) {}
    TRemoveGuard(const TRemoveGuard&) = delete;
    TRemoveGuard& operator=(const TRemoveGuard&) = delete;
    ~TRemoveGuard() {
        if (!Path_.empty()) ::unlink(Path_.c_str());
    }
    void Release() { Path_.clear(); }

  private:
    std::string Path_;
};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string DirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::size_t TIniFile::TNoCaseHash::operator()(std::string_view s) const {
    std::size_t h = 14695981039346656037ull;  // FNV-1a over the lower-cased bytes
    for (char c : s) {
        h ^= static_cast<unsigned char>(Lower(c));
        h *= 1099511628211ull;
    }
    return h;
}

bool TIniFile::TNoCaseEq::operator()(std::string_view a, std::string_view b) const {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

TIniFile::TIniFile() { Parse({}); }

TIniFile::TLoadStatus TIniFile::Load(const std::string& path) {
    Path_ = path;
    LastError_.clear();
    // O_NONBLOCK: a FIFO in place of the file must not hang the start-up.
    TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) {
        const int err = errno;
        Parse({});
        if (err == ENOENT || err == ENOTDIR) return TLoadStatus::Missing;
        LastError_ = ErrorText("open", path, err);
        return TLoadStatus::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        Parse({});
        LastError_ = ErrorText("open", path, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        return TLoadStatus::Unreadable;
    }
    std::string data;
    if (st.st_size > 0) data.reserve(static_cast<std::size_t>(st.st_size));
    TLoadStatus status = TLoadStatus::Loaded;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buf, sizeof buf);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            // Keep what was read: a damaged medium still yields its first part.
            LastError_ = ErrorText("read", path, errno);
            status = TLoadStatus::Unreadable;
            break;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    Parse(data);
    return status;
}

void TIniFile::Parse(std::string_view text) {
    Sections_.clear();
    SectionIndex_.clear();
    Sections_.emplace_back();  // the lines before the first section header
    NewEol_ = TEol::Lf;
    // Editors that save UTF-8 with a byte-order mark put it before "[Main]";
    // read as part of the line it would hide that section header.
    constexpr std::string_view bom = "\xEF\xBB\xBF";
    Bom_ = text.substr(0, bom.size()) == bom;
    if (Bom_) text.remove_prefix(bom.size());
    bool eolSeen = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto nl = text.find('\n', pos);
        std::string_view line;
        TEol eol = TEol::None;
        if (nl == std::string_view::npos) {
            line = text.substr(pos);
            pos = text.size();
        } else {
            line = text.substr(pos, nl - pos);
            eol = TEol::Lf;
            pos = nl + 1;
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
                eol = TEol::CrLf;
            }
        }
        // New lines follow the file's own convention.
        if (!eolSeen && eol != TEol::None) {
            NewEol_ = eol;
            eolSeen = true;
        }
        AddLine(std::string(line), eol);
    }
}

void TIniFile::AddLine(std::string text, TEol eol) {
    if (const auto name = SectionOf(text)) {
        const std::string key(*name);
        Sections_.emplace_back();
        TSection& s = Sections_.back();
        s.HasHeader = true;
        s.AfterLastKey = 1;
        s.Lines.push_back({std::move(text), eol, TKind::Section});
        SectionIndex_.emplace(key, Sections_.size() - 1);
        return;
    }
    TSection& s = Sections_.back();
    const std::string_view t = TrimLeft(text);
    const bool isKey = !t.empty() && t.front() != ';' && t.find('=') != std::string_view::npos &&
                       !KeyOf(t).empty();
    if (isKey) {
        const std::string key(KeyOf(t));
        s.Keys.emplace(key, s.Lines.size());  // emplace keeps the first occurrence
        s.AfterLastKey = s.Lines.size() + 1;
    }
    s.Lines.push_back({std::move(text), eol, isKey ? TKind::Key : TKind::Other});
}

const TIniFile::TLine* TIniFile::FindKey(std::string_view section, std::string_view key) const {
    const auto sec = SectionIndex_.find(Trim(section));
    if (sec == SectionIndex_.end()) return nullptr;
    const TSection& s = Sections_[sec->second];
    const auto k = s.Keys.find(Trim(key));
    return k == s.Keys.end() ? nullptr : &s.Lines[k->second];
}

std::optional<std::string> TIniFile::Read(std::string_view section, std::string_view key) const {
    const TLine* line = FindKey(section, key);
    if (!line) return std::nullopt;
    const std::string_view text = line->Text;
    std::string_view v = Trim(text.substr(text.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(CutAtCharBoundary(v, MaxValueBytes));
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key,
                                 std::string_view def) const {
    auto v = Read(section, key);
    return v ? std::move(*v) : std::string(def);
}

bool TIniFile::HasKey(std::string_view section, std::string_view key) const {
    return FindKey(section, key) != nullptr;
}

std::vector<std::string> TIniFile::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const auto sec = SectionIndex_.find(Trim(section));
    if (sec == SectionIndex_.end()) return names;
    for (const TLine& l : Sections_[sec->second].Lines)
        if (l.Kind == TKind::Key) names.emplace_back(KeyOf(TrimLeft(l.Text)));
    return names;
}

bool TIniFile::WriteString(std::string_view sectionIn, std::string_view keyIn,
                           std::string_view value) {
    const std::string_view section = Trim(sectionIn);
    const std::string_view key = Trim(keyIn);
    const auto has = [](std::string_view s, std::string_view chars) {
        return s.find_first_of(chars) != std::string_view::npos;
    };
    if (section.empty() || has(section, "\r\n]") || key.empty() || has(key, "\r\n=") ||
        key.front() == ';' || key.front() == '[')
        return false;
    std::string v(value);
    for (char& c : v)
        if (c == '\r' || c == '\n') c = ' ';

    auto sec = SectionIndex_.find(section);
    if (sec == SectionIndex_.end()) {
        // A blank line separates the new section from the text before it.
        TSection& last = Sections_.back();
        if (!last.Lines.empty() && !Trim(last.Lines.back().Text).empty())
            last.Lines.push_back({std::string(), NewEol_, TKind::Other});
        TSection s;
        s.HasHeader = true;
        s.AfterLastKey = 1;
        std::string header = "[";
        header.append(section).append("]");
        s.Lines.push_back({std::move(header), NewEol_, TKind::Section});
        Sections_.push_back(std::move(s));
        sec = SectionIndex_.emplace(std::string(section), Sections_.size() - 1).first;
    }
    TSection& s = Sections_[sec->second];
    const auto k = s.Keys.find(key);
    if (k != s.Keys.end()) {
        TLine& line = s.Lines[k->second];
        line.Text = std::string(KeyOf(line.Text)) + "=" + v;
        return true;
    }
    // Only non-key lines follow AfterLastKey, so no index entry moves.
    const std::size_t at = s.AfterLastKey;
    s.Lines.insert(s.Lines.begin() + static_cast<std::ptrdiff_t>(at),
                   {std::string(key) + "=" + v, NewEol_, TKind::Key});
    s.Keys.emplace(std::string(key), at);
    s.AfterLastKey = at + 1;
    return true;
}

std::string TIniFile::Text() const {
    std::size_t size = 0;
    const TLine* lastLine = nullptr;
    for (const TSection& s : Sections_)
        for (const TLine& l : s.Lines) {
            size += l.Text.size() + 2;
            lastLine = &l;
        }
    std::string out;
    out.reserve(size + 3);
    if (Bom_) out = "\xEF\xBB\xBF";
    for (const TSection& s : Sections_)
        for (const TLine& l : s.Lines) {
            out += l.Text;
            // Only the file's last line may lack a line end.
            TEol eol = l.Eol;
            if (eol == TEol::None && &l != lastLine) eol = NewEol_;
            if (eol == TEol::CrLf)
                out += "\r\n";
            else if (eol == TEol::Lf)
                out += '\n';
        }
    return out;
}

bool TIniFile::Save() { return SaveAs(Path_); }

bool TIniFile::SaveAs(const std::string& path) {
    LastError_.clear();
    const std::string data = Text();
    const auto fault = [this](TSaveStep step) {
        if (Fault_ && Fault_(step)) {
            errno = EIO;
            return true;
        }
        return false;
    };
    const auto fail = [this](const char* what, const std::string& file) {
        LastError_ = ErrorText(what, file, errno);
        return false;
    };

    // A symbolic link keeps pointing at the file: write the file it names.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
        if (real) target = real.get();
    }
    const bool existed = ::stat(target.c_str(), &st) == 0;

    std::string tmp = target + ".tmp-XXXXXX";
    if (fault(TSaveStep::Create)) return fail("create", tmp);
    TFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd) return fail("create", tmp);
    TRemoveGuard removeTmp(tmp);

    if (fault(TSaveStep::Write) || !WriteAll(fd.Get(), data)) return fail("write", tmp);
    // The new file keeps the old one's mode and owner (mkostemp makes 0600).
    // Refusals are harmless: the content is what matters.
    if (existed) {
        (void)!::fchmod(fd.Get(), st.st_mode & 07777);
        (void)!::fchown(fd.Get(), st.st_uid, st.st_gid);
    } else {
        (void)!::fchmod(fd.Get(), 0644);
    }
    if (fault(TSaveStep::Sync) || ::fsync(fd.Get()) != 0) return fail("fsync", tmp);
    if (fault(TSaveStep::Close) || fd.Close() != 0) return fail("close", tmp);
    if (fault(TSaveStep::Rename) || ::rename(tmp.c_str(), target.c_str()) != 0)
        return fail("rename", target);
    removeTmp.Release();

    // Make the rename itself durable. The new content is in place already, so
    // a directory that cannot be synced does not turn the save into a failure.
    TFd dir(::open(DirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) (void)!::fsync(dir.Get());
    return true;
}

}  // namespace tarvik
