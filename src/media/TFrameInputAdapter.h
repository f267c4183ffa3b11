#pragma once
// TFrameInputAdapter: a video input of the encoder whose pictures come from
// the owner's handler instead of a file. The encoder's "frameinput" format
// finds the adapter by the decimal text of its address (FileName()), calls
// OnReadHeader once when the input is declared (inside AddTask/AddInput, on
// the caller's thread) and OnReadFrameYUV for every picture on the input's
// reading thread. The adapter owns FrameInfo; the handler may change
// FrameInfo.TimeStamp to restamp the picture (accepted when greater than
// LastTimeStamp). A negative handler result ends the input with an error.
//
// The adapter must outlive the encoder task that reads it. Tag is one atomic
// word that the main thread may change between two reads.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace tv {

struct TInputFrameInfo {
    int64_t TimeStamp = 0;       // microseconds
    int64_t LastTimeStamp = 0;   // microseconds, previous picture
    int32_t FrameNumber = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BytesPerFrame = 0;   // one picture in the input's pixel format, planes packed
};

class TFrameInputAdapter {
public:
    using ReadHeaderHandler = std::function<void(TFrameInputAdapter* sender)>;
    using ReadFrameHandler =
        std::function<int(TFrameInputAdapter* sender, uint8_t* data, TInputFrameInfo& info)>;

    TFrameInputAdapter();
    ~TFrameInputAdapter();
    TFrameInputAdapter(const TFrameInputAdapter&) = delete;
    TFrameInputAdapter& operator=(const TFrameInputAdapter&) = delete;

    // The file name under which the encoder finds this adapter.
    std::string FileName() const;
    // The live adapter named by `fileName`, or nullptr.
    static TFrameInputAdapter* Find(const std::string& fileName);

    std::atomic<int> Tag{0};
    // Kept for the component's interface; handlers always run on the
    // reading thread here.
    bool TriggerEventInMainThread = false;
    ReadHeaderHandler OnReadHeader;
    ReadFrameHandler OnReadFrameYUV;
    TInputFrameInfo FrameInfo;
};

} // namespace tv
