#pragma once
// TMemIniFile: the in-memory image of one INI file (a profile, the settings
// file "TConfig.ini", an instance key file). It owns the image only; the file
// is read once when the image is built and rewritten in one piece by
// UpdateFile. Each user keeps its own image; an image is not locked and is
// used by one thread at a time.
//
// Reading, whatever the encoding:
// - every line is stripped at both ends of characters with codes up to 32;
// - empty lines, lines beginning with ";" and lines before the first section
//   are skipped;
// - "[name]" opens a section; a name seen again continues the first section;
// - "key=value" is an entry (key before the first "=" without trailing
//   blanks, value after it without leading blanks); a line without "=" is
//   kept as a key without value, which every reader treats as missing;
// - section and key names are compared without regard to ASCII letter case.
// Writing: sections in the order they entered the image, "[name]", one line
// per entry, one empty line; every line ends with CR LF. A key that exists
// keeps its place and its first letter case; a new key goes to the end of its
// section, a new section to the end of the image.
//
// Encodings: profiles are UTF-16LE, written with the mark FF FE and read with
// or without it; the settings and instance key files are UTF-8, written with
// the mark EF BB BF and read with or without it. A profile file that starts
// with the UTF-8 mark, or that has no mark and no zero byte at all (text saved
// by a UTF-8 editor), is read as UTF-8 rather than turned into garbage.
//
// Errors: a file that does not exist gives an empty image; a file that exists
// but cannot be read gives an empty image and a loadError() text (so that a
// save cannot silently replace a file whose contents were never seen). A
// failed UpdateFile reports the file error and keeps the image.

#include "common/Result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tv {

enum class IniEncoding {
    Utf16Le, // profiles
    Utf8,    // TConfig.ini and the instance key file
};

class TMemIniFile {
public:
    // An empty image that is not tied to a file (UpdateFile fails).
    TMemIniFile() = default;

    // Builds the image from the file at path; see the header comment for a
    // missing or unreadable file.
    explicit TMemIniFile(std::string path, IniEncoding encoding = IniEncoding::Utf16Le);

    // Same, but an unreadable file is an error instead of an empty image.
    static Result<TMemIniFile> Open(std::string path, IniEncoding encoding = IniEncoding::Utf16Le);

    // An image built from the bytes of a file (no file name).
    static TMemIniFile FromBytes(std::string_view bytes, IniEncoding encoding = IniEncoding::Utf16Le);

    const std::string& FileName() const { return fileName_; }
    IniEncoding Encoding() const { return encoding_; }
    const std::string& loadError() const { return loadError_; }

    // Readers. A missing section or key, or a key stored without "=", gives
    // the default. An empty value is the empty text for ReadString and the
    // default for the number readers.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def) const;
    std::int32_t ReadInteger(std::string_view section, std::string_view key,
                             std::int32_t def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Keys of the section in file order (keys stored without "=" left out).
    std::vector<std::string> ReadSection(std::string_view section) const;
    // Section names in image order, with the letter case they entered with.
    std::vector<std::string> ReadSections() const;

    // Writers (into the image only). A line break inside a value is written
    // as one blank: a value always stays one line, so it can never add
    // entries or sections to the file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, std::int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void EraseSection(std::string_view section);
    void DeleteKey(std::string_view section, std::string_view key);
    void Clear();

    // The file's bytes as UpdateFile writes them.
    std::string ToBytes() const;

    // Rewrites the file from the image: a temporary file beside it, flushed
    // to disk and renamed over the old one, so a crash never leaves half a
    // profile. Keeps the old file's permissions.
    Status UpdateFile() const;

private:
    struct Entry {
        std::string key;
        std::string value;
        bool hasValue = true; // false: a line without "=" kept as read
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };

    void parse(std::string_view utf8);
    const Section* findSection(std::string_view name) const;
    Section& sectionFor(std::string_view name);
    const Entry* findEntry(std::string_view section, std::string_view key) const;
    void reindex();

    std::string fileName_;
    IniEncoding encoding_ = IniEncoding::Utf16Le;
    std::string loadError_;
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> index_; // folded name -> sections_ position
};

} // namespace tv
