#include "common/TMemIniFile.h"

#include "common/AsciiText.h"
#include "common/NumberText.h"
#include "common/TextCodec.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr char kCommentMark = ';';
// No INI file of these programs comes near this; a larger file is refused
// rather than read into memory.
constexpr size_t kMaxFileBytes = 64u * 1024 * 1024;

bool isBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view trimLeft(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s)
{
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

// One line per stored text: each CR LF, CR or LF becomes one blank.
std::string oneLine(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

bool startsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }

// The file's text as UTF-8, by the rules in the header.
std::string decodeFile(std::string_view bytes, IniEncoding encoding)
{
    if (startsWith(bytes, text::kUtf16LeBom))
        return text::utf16LeToUtf8(bytes.substr(text::kUtf16LeBom.size()));
    if (startsWith(bytes, text::kUtf8Bom))
        return std::string(bytes.substr(text::kUtf8Bom.size()));
    if (encoding == IniEncoding::Utf8)
        return std::string(bytes);
    if (bytes.find('\0') == std::string_view::npos)
        return std::string(bytes); // no mark and no zero byte: UTF-8 text
    return text::utf16LeToUtf8(bytes);
}

Result<std::string> readWholeFile(const std::string& path, bool& missing)
{
    missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return std::string();
        }
        return fail("Cannot open file \"" + path + "\". " + std::strerror(errno));
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail("Cannot read file \"" + path + "\". " + std::strerror(err));
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
        if (data.size() > kMaxFileBytes) {
            ::close(fd);
            return fail("The file \"" + path + "\" is too large for an INI file");
        }
    }
    ::close(fd);
    return data;
}

} // namespace

TMemIniFile::TMemIniFile(std::string path, IniEncoding encoding)
    : fileName_(std::move(path)), encoding_(encoding)
{
    bool missing = false;
    auto data = readWholeFile(fileName_, missing);
    if (!data) {
        loadError_ = data.error();
        return;
    }
    parse(decodeFile(data.value(), encoding_));
}

Result<TMemIniFile> TMemIniFile::Open(std::string path, IniEncoding encoding)
{
    TMemIniFile ini(std::move(path), encoding);
    if (!ini.loadError_.empty())
        return fail(ini.loadError_);
    return ini;
}

TMemIniFile TMemIniFile::FromBytes(std::string_view bytes, IniEncoding encoding)
{
    TMemIniFile ini;
    ini.encoding_ = encoding;
    ini.parse(decodeFile(bytes, encoding));
    return ini;
}

void TMemIniFile::parse(std::string_view text)
{
    Section* current = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        if (end < text.size() && text[end] == '\r' && pos < text.size() && text[pos] == '\n')
            ++pos;

        if (line.empty() || line.front() == kCommentMark)
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            current = &sectionFor(trim(line.substr(1, line.size() - 2)));
            continue;
        }
        if (!current)
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            current->entries.push_back({std::string(line), {}, false});
        } else {
            current->entries.push_back({std::string(trimRight(line.substr(0, eq))),
                                        std::string(trimLeft(line.substr(eq + 1))), true});
        }
    }
}

const TMemIniFile::Section* TMemIniFile::findSection(std::string_view name) const
{
    auto it = index_.find(asciiLower(name));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

TMemIniFile::Section& TMemIniFile::sectionFor(std::string_view name)
{
    std::string key = asciiLower(name);
    auto it = index_.find(key);
    if (it != index_.end())
        return sections_[it->second];
    sections_.push_back({oneLine(name), {}});
    index_.emplace(std::move(key), sections_.size() - 1);
    return sections_.back();
}

void TMemIniFile::reindex()
{
    index_.clear();
    for (size_t i = 0; i < sections_.size(); ++i)
        index_.emplace(asciiLower(sections_[i].name), i);
}

const TMemIniFile::Entry* TMemIniFile::findEntry(std::string_view section, std::string_view key) const
{
    const Section* s = findSection(section);
    if (!s)
        return nullptr;
    for (const Entry& e : s->entries)
        if (e.hasValue && equalNoCase(e.key, key))
            return &e;
    return nullptr;
}

std::string TMemIniFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view def) const
{
    const Entry* e = findEntry(section, key);
    return e ? e->value : std::string(def);
}

std::int32_t TMemIniFile::ReadInteger(std::string_view section, std::string_view key,
                                      std::int32_t def) const
{
    const Entry* e = findEntry(section, key);
    if (!e)
        return def;
    return parseIntegerText(e->value).value_or(def);
}

bool TMemIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TMemIniFile::SectionExists(std::string_view section) const
{
    return findSection(section) != nullptr;
}

bool TMemIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return findEntry(section, key) != nullptr;
}

std::vector<std::string> TMemIniFile::ReadSection(std::string_view section) const
{
    std::vector<std::string> keys;
    if (const Section* s = findSection(section))
        for (const Entry& e : s->entries)
            if (e.hasValue)
                keys.push_back(e.key);
    return keys;
}

std::vector<std::string> TMemIniFile::ReadSections() const
{
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_)
        names.push_back(s.name);
    return names;
}

void TMemIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    Section& s = sectionFor(section);
    for (Entry& e : s.entries) {
        if (e.hasValue && equalNoCase(e.key, key)) {
            e.value = oneLine(value);
            return;
        }
    }
    s.entries.push_back({oneLine(key), oneLine(value), true});
}

void TMemIniFile::WriteInteger(std::string_view section, std::string_view key, std::int32_t value)
{
    WriteString(section, key, integerText(value));
}

void TMemIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

void TMemIniFile::EraseSection(std::string_view section)
{
    auto it = index_.find(asciiLower(section));
    if (it == index_.end())
        return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
    reindex();
}

void TMemIniFile::DeleteKey(std::string_view section, std::string_view key)
{
    auto it = index_.find(asciiLower(section));
    if (it == index_.end())
        return;
    auto& entries = sections_[it->second].entries;
    for (auto e = entries.begin(); e != entries.end(); ++e) {
        if (e->hasValue && equalNoCase(e->key, key)) {
            entries.erase(e);
            return;
        }
    }
}

void TMemIniFile::Clear()
{
    sections_.clear();
    index_.clear();
}

std::string TMemIniFile::ToBytes() const
{
    std::string text;
    for (const Section& s : sections_) {
        text += '[';
        text += s.name;
        text += ']';
        text += kLineEnd;
        for (const Entry& e : s.entries) {
            text += e.key;
            if (e.hasValue) {
                text += '=';
                text += e.value;
            }
            text += kLineEnd;
        }
        text += kLineEnd;
    }
    if (encoding_ == IniEncoding::Utf8)
        return std::string(text::kUtf8Bom) + text;
    return std::string(text::kUtf16LeBom) + text::utf8ToUtf16Le(text);
}

Status TMemIniFile::UpdateFile() const
{
    if (fileName_.empty())
        return fail("The INI image has no file name");

    // A profile kept behind a symbolic link is replaced where the link points,
    // so that the link stays.
    std::string target = fileName_;
    struct stat linkInfo {};
    if (::lstat(fileName_.c_str(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
        if (char* resolved = ::realpath(fileName_.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }

    static std::atomic<unsigned> counter{0};
    const std::string tmp = target + ".tmp." + integerText(::getpid()) + "."
                            + integerText(counter.fetch_add(1));
    auto failWith = [&](const char* what, int err) {
        return fail(std::string(what) + " \"" + fileName_ + "\". " + std::strerror(err));
    };

    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return failWith("Cannot create file", errno);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0)
        (void)::fchmod(fd, old.st_mode & 07777);

    const std::string bytes = ToBytes();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
            return failWith("Cannot write file", err);
        }
        done += static_cast<size_t>(n);
    }
    int err = ::fsync(fd) != 0 ? errno : 0;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        return failWith("Cannot write file", err);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        return failWith("Cannot create file", err);
    }
    return {};
}

} // namespace tv
