#pragma once
// RecordingRing: the rolling recording of the served stream in five files,
// <folder>0.mpg ... <folder>4.mpg. A file that would reach the size limit is
// closed as it is and the next file of the ring is started empty; every start
// begins again with 0.mpg.
//
// Recording never stops the stream: when a file cannot be created or written
// (full disk, removed folder) the bytes are not recorded and, after a pause,
// recording starts again with the next file of the ring (the same file when it
// could not even be created). Until a write succeeds again, each file's
// failure is logged once, so a disk that stays full logs at most five lines.
//
// Owns the open file. Called on one thread (the main thread, by OutputSink).

#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tv {

struct RecordingRingOptions {
    // Folder of the ring, with a trailing "/"; created with its parents.
    std::string folder;
    // A file never reaches this size.
    std::uint64_t sizeLimit = 1'000'000'000;
    // Pause before recording is tried again after a failure.
    std::chrono::milliseconds retryPause{5000};
};

class RecordingRing {
public:
    static constexpr int kRingFiles = 5;
    // Every 26th write starts writing the file's data out to the disk.
    static constexpr int kFlushCounterLimit = 50;

    // The ring in the program folder's "tmp/".
    static RecordingRingOptions defaultOptions();

    explicit RecordingRing(RecordingRingOptions options);
    ~RecordingRing();

    RecordingRing(const RecordingRing&) = delete;
    RecordingRing& operator=(const RecordingRing&) = delete;

    // FileIndex := 0 and starts 0.mpg anew. False (logged) when the file could
    // not be created; recording is then tried again later.
    bool open();
    // Records `count` bytes, rotating first when the file would reach the
    // limit. Never reports failure: see the header comment.
    void write(const std::uint8_t* data, std::size_t count);
    // Seeks in the current file (origin SEEK_SET, SEEK_CUR or SEEK_END); the
    // new position, or -1.
    std::int64_t seek(std::int64_t offset, int origin);
    // Closes the current file; write() does nothing until the next open().
    void close();

    int FileIndex() const { return fileIndex_; }
    const std::string& CurrentFile() const { return currentFile_; }
    int FlushCounter() const { return flushCounter_; }
    bool recording() const { return fd_ >= 0; }
    std::uint64_t currentSize() const { return size_; }
    std::string fileName(int index) const;
    // Failures written to the event log since construction.
    int failuresLogged() const { return failuresLogged_; }

private:
    enum class State { Closed, Recording, Failed };

    bool startFile(int index);
    void fail(const std::string& what, int code);
    void retryIfDue();

    RecordingRingOptions options_;
    State state_ = State::Closed;
    int fd_ = -1;
    int fileIndex_ = 0;
    std::string currentFile_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    int flushCounter_ = 0;
    int retryIndex_ = 0;
    std::bitset<kRingFiles> loggedFailure_; // files whose failure is logged since the last good write
    int failuresLogged_ = 0;
    std::chrono::steady_clock::time_point retryAt_{};
};

} // namespace tv
