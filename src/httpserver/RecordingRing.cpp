#include "httpserver/RecordingRing.h"

#include "common/LogEvent.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tv {

namespace {
constexpr const char* kRecordingExtension = ".mpg";
constexpr const char* kRecordingFolder = "tmp/";
} // namespace

RecordingRingOptions RecordingRing::defaultOptions()
{
    RecordingRingOptions options;
    options.folder = platform::programFolder() + kRecordingFolder;
    return options;
}

RecordingRing::RecordingRing(RecordingRingOptions options) : options_(std::move(options))
{
    if (!options_.folder.empty() && options_.folder.back() != '/')
        options_.folder += '/';
}

RecordingRing::~RecordingRing() { close(); }

std::string RecordingRing::fileName(int index) const
{
    return options_.folder + std::to_string(index) + kRecordingExtension;
}

bool RecordingRing::open()
{
    close();
    loggedFailure_.reset();
    return startFile(0);
}

bool RecordingRing::startFile(int index)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    fileIndex_ = index;
    currentFile_ = fileName(index);
    size_ = 0;
    position_ = 0;

    std::error_code ec;
    std::filesystem::create_directories(options_.folder, ec);
    // A reader may still hold the old file open; it keeps what it has.
    ::unlink(currentFile_.c_str());
    fd_ = ::open(currentFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        fail("cannot be created", errno);
        retryIndex_ = index;
        return false;
    }
    state_ = State::Recording;
    return true;
}

void RecordingRing::fail(const std::string& what, int code)
{
    if (!loggedFailure_.test(static_cast<std::size_t>(fileIndex_))) {
        loggedFailure_.set(static_cast<std::size_t>(fileIndex_));
        ++failuresLogged_;
        WriteEventLog("Recording file " + currentFile_ + " " + what + ": " + std::strerror(code), kEventLogError);
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    state_ = State::Failed;
    retryIndex_ = (fileIndex_ + 1) % kRingFiles;
    retryAt_ = std::chrono::steady_clock::now() + options_.retryPause;
}

void RecordingRing::retryIfDue()
{
    if (std::chrono::steady_clock::now() < retryAt_)
        return;
    if (!startFile(retryIndex_))
        retryAt_ = std::chrono::steady_clock::now() + options_.retryPause;
}

void RecordingRing::write(const std::uint8_t* data, std::size_t count)
{
    if (state_ == State::Closed || count == 0)
        return;
    if (state_ == State::Failed) {
        retryIfDue();
        if (state_ != State::Recording)
            return;
    }
    if (size_ + count >= options_.sizeLimit) {
        if (!startFile((fileIndex_ + 1) % kRingFiles))
            return;
    }

    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, data + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            fail("cannot be written", n < 0 ? errno : ENOSPC);
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    if (loggedFailure_.any())
        loggedFailure_.reset();
    position_ += count;
    if (position_ > size_)
        size_ = position_;

    ++flushCounter_;
    if (flushCounter_ > kFlushCounterLimit) {
        flushCounter_ = 0;
        // Start writing the data out without waiting for the disk: the main
        // thread (and with it the encoder) must not stall on it.
        ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
        // A file whose folder was removed goes on taking bytes that nobody
        // can ever read: move on to a file that exists.
        struct stat st{};
        if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
            fail("was removed", ENOENT);
            retryAt_ = std::chrono::steady_clock::now();
        }
    }
    ++flushCounter_;
}

std::int64_t RecordingRing::seek(std::int64_t offset, int origin)
{
    if (fd_ < 0 || (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END))
        return -1;
    const off_t at = ::lseek(fd_, offset, origin);
    if (at < 0)
        return -1;
    position_ = static_cast<std::uint64_t>(at);
    return at;
}

void RecordingRing::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    state_ = State::Closed;
}

} // namespace tv
